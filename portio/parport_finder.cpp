#include "parport_finder.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace runlight::portio {

namespace {
namespace fs = std::filesystem;

std::string parportFolder(const std::string& procRoot) {
    return procRoot + "/sys/dev/parport";
}

// Digits after `prefix` at the end of `name`, or -1.
int trailingNumber(const std::string& name, const std::string& prefix) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
        return -1;
    }
    int number = 0;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || number > 9999) {
            return -1;
        }
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

std::optional<std::string> firstLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    if (!file || !std::getline(file, line)) {
        return std::nullopt;
    }
    return line;
}
}  // namespace

std::vector<ParportInfo> listParports(const std::string& procRoot) {
    std::vector<ParportInfo> ports;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(parportFolder(procRoot), ec)) {
        const int number = trailingNumber(entry.path().filename().string(), "parport");
        if (number < 0) {
            continue;  // "default" and anything else the driver adds
        }
        const auto line = firstLine((entry.path() / "base-addr").string());
        if (!line) {
            continue;
        }
        std::istringstream fields(*line);
        unsigned long base = 0;
        if (fields >> base && base <= 0xFFFFFFFFUL) {
            ports.push_back({number, static_cast<std::uint32_t>(base)});
        }
    }
    std::sort(ports.begin(), ports.end(),
              [](const ParportInfo& a, const ParportInfo& b) { return a.number < b.number; });
    return ports;
}

int parportNumber(const std::string& device) {
    return trailingNumber(fs::path(device).filename().string(), "parport");
}

std::optional<ParportChoice> findParport(std::uint16_t address, const std::string& procRoot,
                                         const std::string& devRoot,
                                         const std::string& overrideDevice) {
    if (!overrideDevice.empty()) {
        return ParportChoice{overrideDevice, parportNumber(overrideDevice),
                             ParportChoice::Rule::Override};
    }
    const auto ports = listParports(procRoot);
    const auto device = [&](int number) { return devRoot + "/parport" + std::to_string(number); };
    for (const auto& port : ports) {
        if (port.baseAddress == address) {
            return ParportChoice{device(port.number), port.number, ParportChoice::Rule::Address};
        }
    }
    if (address == kFirstPortAddress && !ports.empty()) {
        return ParportChoice{device(ports.front().number), ports.front().number,
                             ParportChoice::Rule::FirstPort};
    }
    return std::nullopt;
}

std::string parportHolder(const std::string& procRoot, int number) {
    if (number < 0) {
        return {};
    }
    const auto line = firstLine(parportFolder(procRoot) + "/parport" + std::to_string(number) +
                                "/devices/active");
    if (!line || line->empty() || *line == "none") {
        return {};
    }
    return *line;
}

std::string noParportMessage(const std::string& procRoot) {
    const auto ports = listParports(procRoot);
    std::string text = "no parallel port found: ";
    if (ports.empty()) {
        text += "the system lists none (" + parportFolder(procRoot) +
                " is empty or missing; on a machine with a parallel port: modprobe parport_pc "
                "ppdev)";
    } else {
        text += "none of the ports listed in " + parportFolder(procRoot) +
                " has this base address (set PORTIO_DEVICE=/dev/parportN to choose one)";
    }
    text +=
        ". USB-to-parallel printer cables cannot drive the data lines: they are printer "
        "interfaces, not parallel ports.";
    return text;
}

}  // namespace runlight::portio
