#pragma once

// An olad of the test's own (olad_sandbox.sh: private configuration folder
// with only the Dummy plugin enabled, private RPC port, no web server, no
// DNS-SD), stopped by its process id; and a test client of OLA's own API to
// patch, feed and read universes.

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <ola/Callback.h>
#include <ola/DmxBuffer.h>
#include <ola/client/ClientArgs.h>
#include <ola/client/ClientTypes.h>
#include <ola/client/OlaClient.h>
#include <ola/client/Result.h>
#include <ola/plugin_id.h>

#include "ola_connection.h"
#include "temp_folder.h"

namespace runlight::testing {

// A TCP port on 127.0.0.1 that nothing listens on right now.
inline std::uint16_t freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

// Whether process `pid` still runs (a zombie that nobody reaps has ended).
inline bool running(pid_t pid) {
    if (::kill(pid, 0) != 0) {
        return false;
    }
    FILE* stat = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (stat == nullptr) {
        return false;
    }
    char state = '?';
    const int read = std::fscanf(stat, "%*d (%*[^)]) %c", &state);
    std::fclose(stat);
    return read == 1 && state != 'Z';
}

// OLA's client API made synchronous: each call runs the connection until
// olad answers (or 5 s pass).
class OlaTestClient {
public:
    static constexpr int kAnswerMs = 5000;

    explicit OlaTestClient(std::uint16_t rpcPort) {
        auto connected = portio::ola_backend::OlaConnection::connect(rpcPort);
        if (connected) {
            m_connection = std::move(*connected);
        } else {
            m_error = connected.error();
        }
    }
    bool connected() const { return m_connection != nullptr; }
    const std::string& error() const { return m_error; }

    // Names of the enabled plugins other than `allowed` ("" when olad did not answer).
    std::vector<std::string> otherEnabledPlugins(ola::ola_plugin_id allowed) {
        Answer<std::vector<ola::client::OlaPlugin>> plugins;
        m_connection->client().FetchPluginList(
            ola::NewSingleCallback(&plugins, &Answer<std::vector<ola::client::OlaPlugin>>::take));
        std::vector<std::string> enabled;
        if (!run(plugins)) {
            return {""};
        }
        for (const auto& plugin : plugins.value) {
            if (plugin.Id() == static_cast<int>(allowed)) {
                continue;
            }
            Answer<ola::client::PluginState> state;
            m_connection->client().FetchPluginState(
                static_cast<ola::ola_plugin_id>(plugin.Id()),
                ola::NewSingleCallback(&state, &Answer<ola::client::PluginState>::take));
            if (!run(state) || state.value.enabled) {
                enabled.push_back(plugin.Name());
            }
        }
        return enabled;
    }

    // Patches the Dummy device's output port to `universe` (moving it from
    // any other). False with the reason in error().
    bool patchDummyTo(unsigned universe) { return patchTo(universe, ola::OLA_PLUGIN_DUMMY); }

    // Patches the first output port of `plugin`'s first device to `universe`.
    bool patchTo(unsigned universe, ola::ola_plugin_id plugin) {
        for (int attempt = 0; attempt < 50; ++attempt) {  // the device comes up after the RPC port
            Answer<std::vector<ola::client::OlaDevice>> devices;
            m_connection->client().FetchDeviceInfo(
                plugin, ola::NewSingleCallback(&devices,
                                               &Answer<std::vector<ola::client::OlaDevice>>::take));
            if (run(devices) && !devices.value.empty() &&
                !devices.value.front().OutputPorts().empty()) {
                const auto& device = devices.value.front();
                Done patched;
                m_connection->client().Patch(device.Alias(), device.OutputPorts().front().Id(),
                                             ola::client::OUTPUT_PORT, ola::client::PATCH, universe,
                                             ola::NewSingleCallback(&patched, &Done::take));
                if (!run(patched)) {
                    m_error = "patching failed: " + patched.error;
                }
                return patched.ok;
            }
            ::usleep(100000);
        }
        m_error = "olad has no device of plugin " + std::to_string(plugin) + " with an output port";
        return false;
    }

    // Sets how olad merges the sources of `universe` (olad's default is LTP:
    // the source that sent last wins whole).
    bool setMergeMode(unsigned universe, ola::client::OlaUniverse::merge_mode mode) {
        Done set;
        m_connection->client().SetUniverseMergeMode(universe, mode,
                                                    ola::NewSingleCallback(&set, &Done::take));
        return run(set);
    }

    // Sends `frame` to `universe` as a source of its own.
    void send(unsigned universe, const ola::DmxBuffer& frame) {
        Done sent;
        m_connection->client().SendDMX(
            universe, frame, ola::client::SendDMXArgs(ola::NewSingleCallback(&sent, &Done::take)));
        run(sent);
    }

    // The universe's frame as olad holds it (every source merged).
    std::vector<std::uint8_t> frame(unsigned universe) {
        Frame fetched;
        m_connection->client().FetchDMX(universe, ola::NewSingleCallback(&fetched, &Frame::take));
        run(fetched);
        return fetched.values;
    }

private:
    struct Done {
        bool answered = false;
        bool ok = false;
        std::string error;
        void take(const ola::client::Result& result) {
            answered = true;
            ok = result.Success();
            error = result.Error();
        }
    };
    template <typename Value>
    struct Answer : Done {
        Value value{};
        void take(const ola::client::Result& result, const Value& answer) {
            Done::take(result);
            value = answer;
        }
    };
    struct Frame : Done {
        std::vector<std::uint8_t> values;
        void take(const ola::client::Result& result, const ola::client::DMXMetadata&,
                  const ola::DmxBuffer& data) {
            Done::take(result);
            values.assign(data.GetRaw(), data.GetRaw() + data.Size());
        }
    };
    bool run(const Done& answer) {
        return m_connection->runUntil([&answer] { return answer.answered; }, kAnswerMs) &&
               answer.ok;
    }

    std::unique_ptr<portio::ola_backend::OlaConnection> m_connection;
    std::string m_error;
};

// olad, started and stopped by the test.
class OladSandbox {
public:
    // The folder is made for root alone; olad's own user must reach its
    // configuration folder inside.
    OladSandbox() : m_port(freeLoopbackPort()) { ::chmod(m_folder.path().c_str(), 0711); }
    ~OladSandbox() { stop(); }
    OladSandbox(const OladSandbox&) = delete;
    OladSandbox& operator=(const OladSandbox&) = delete;

    std::uint16_t port() const { return m_port; }
    pid_t pid() const { return m_pid; }

    // Starts olad and checks that no plugin but Dummy (with `e131Ip`: but
    // E1.31, on the interface with that address) is enabled. Returns "" or
    // why not; 77 from the script (olad not installed) gives "skip: ...".
    std::string start(const std::string& e131Ip = "") {
        m_plugin = e131Ip.empty() ? ola::OLA_PLUGIN_DUMMY : ola::OLA_PLUGIN_E131;
        const std::string command = (e131Ip.empty() ? "" : "OLAD_E131_IP=" + e131Ip + " ") +
                                    std::string(OLAD_SANDBOX_SCRIPT) + " start " + m_folder.path() +
                                    "/olad " + std::to_string(m_port) + " 2>&1";
        FILE* script = ::popen(command.c_str(), "r");
        std::string output;
        char line[512];
        while (script != nullptr && std::fgets(line, sizeof line, script) != nullptr) {
            output += line;
        }
        const int status = script != nullptr ? ::pclose(script) : -1;
        if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
            return "skip: " + output;
        }
        if (status != 0) {
            return "olad_sandbox.sh start failed: " + output;
        }
        m_pid = static_cast<pid_t>(std::stol(output));
        OlaTestClient client(m_port);
        if (!client.connected()) {
            return "olad does not answer: " + client.error();
        }
        const auto others = client.otherEnabledPlugins(m_plugin);
        if (!others.empty()) {
            stop();
            std::string names;
            for (const auto& name : others) {
                names += " \"" + name + "\"";
            }
            return "plugins other than the one under test are enabled (add them to "
                   "olad_sandbox.sh):" +
                   names;
        }
        return "";
    }

    // Stops olad by its process id and waits until it is gone.
    void stop() {
        if (m_pid <= 0) {
            return;
        }
        ::kill(m_pid, SIGTERM);
        for (int i = 0; i < 100 && running(m_pid); ++i) {
            ::usleep(50000);
        }
        if (running(m_pid)) {
            ::kill(m_pid, SIGKILL);
        }
        m_pid = -1;
    }

private:
    TempFolder m_folder;
    std::uint16_t m_port;
    pid_t m_pid = -1;
    ola::ola_plugin_id m_plugin = ola::OLA_PLUGIN_DUMMY;
};

}  // namespace runlight::testing
