#pragma once

// Runs a shell command line for a test and collects what it printed.

#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <utility>

namespace runlight::testing {

// Runs `command` under sh; its wait status (pclose) and what it said on its
// standard output. {-1, "no popen"} when it could not be started.
inline std::pair<int, std::string> runCommand(const std::string& command) {
    FILE* tool = ::popen(command.c_str(), "r");
    if (tool == nullptr) {
        return {-1, "no popen"};
    }
    std::string said;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, tool) != nullptr) {
        said += buffer;
    }
    return {::pclose(tool), said};
}

}  // namespace runlight::testing
