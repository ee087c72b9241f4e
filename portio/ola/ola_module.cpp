// libportio-ola.so.1: the OLA back end as a port library module (see
// portio_module.h). Everything here that needs libola stays in this module,
// so the port library itself runs where OLA is not installed.

#include <charconv>
#include <memory>
#include <string>
#include <string_view>

#include <ola/Callback.h>
#include <ola/client/ClientTypes.h>
#include <ola/client/OlaClient.h>
#include <ola/client/Result.h>

#include "backend_table.h"
#include "ola_connection.h"
#include "ola_port.h"
#include "portio_module.h"
#include "result.h"
#include "universe_watcher.h"

struct PortioBackend {
    std::unique_ptr<runlight::portio::ola_backend::OlaPort> port;
};

struct PortioWatch {
    std::unique_ptr<runlight::portio::ola_backend::UniverseWatcher> watcher;
};

namespace {

using runlight::portio::ola_backend::OlaConnection;
using runlight::portio::ola_backend::OlaPort;
using runlight::portio::ola_backend::olaPortLabel;
using runlight::portio::ola_backend::OlaPortOptions;
using runlight::portio::ola_backend::universeProblem;

void give(PortioText text, const std::string& value) {
    text.assign(text.context, value.c_str());
}

// The module's settings from the core, which has checked them against the
// ranges of the table of back ends; read here with the same ranges.
runlight::Result<OlaPortOptions> readOptions(std::uint16_t address,
                                             const PortioSettings& settings) {
    OlaPortOptions options;
    options.address = address;
    std::string error;
    const auto number = [&](const char* key, auto& into) {
        const runlight::portio::SettingKey* rule = runlight::portio::findSettingKey(key);
        const char* text = settings.value(settings.context, key);
        const std::string_view value = text != nullptr ? text : "";
        // Every range here is within unsigned (no key of ours is negative).
        const auto low = static_cast<unsigned>(rule->low);
        const auto high = static_cast<unsigned>(rule->high);
        unsigned parsed = 0;
        const auto [end, status] =
            std::from_chars(value.data(), value.data() + value.size(), parsed);
        if (status != std::errc() || end != value.data() + value.size() || parsed < low ||
            parsed > high) {
            error = olaPortLabel(options) + ": " + key + " = " + std::string(value) +
                    " is not a whole number " + std::to_string(low) + ".." + std::to_string(high);
            return false;
        }
        into = static_cast<std::remove_reference_t<decltype(into)>>(parsed);
        return true;
    };
    // keep-alive came after the others: a core (or a caller of the watch)
    // that does not know it yet leaves the default.
    const bool keepAliveGiven = settings.value(settings.context, "keep-alive") != nullptr;
    if (number("universe", options.universe) && number("channel", options.channel) &&
        number("level", options.level) && number("ola-port", options.rpcPort) &&
        (!keepAliveGiven || number("keep-alive", options.keepAliveMs))) {
        return options;
    }
    return runlight::fail(error);
}

PortioBackend* openPort(std::uint16_t address, const PortioSettings* settings, PortioText error) {
    const auto options = readOptions(address, *settings);
    if (!options) {
        give(error, options.error());
        return nullptr;
    }
    auto port = OlaPort::open(*options);
    if (!port) {
        give(error,
             olaPortLabel(*options) + ": " + port.error());  // a module's text names the port
        return nullptr;
    }
    return new PortioBackend{std::move(*port)};
}

int writePort(PortioBackend* backend, std::uint8_t data, PortioText error) {
    const auto written = backend->port->write(data);
    if (!written) {
        give(error, backend->port->label() + ": " + written.error());
        return 0;
    }
    return 1;
}

int readPort(PortioBackend* backend, std::uint8_t* data, PortioText error) {
    const auto read = backend->port->read();
    if (!read) {
        give(error, backend->port->label() + ": " + read.error());
        return 0;
    }
    *data = *read;
    return 1;
}

void closePort(PortioBackend* backend) {
    delete backend;
}

// olad's answer to FetchUniverseInfo.
struct UniverseAnswer {
    bool answered = false;
    runlight::portio::ola_backend::UniverseInfo info;

    void take(const ola::client::Result& result, const ola::client::OlaUniverse& universe) {
        answered = true;
        info.exists = result.Success();
        if (info.exists) {
            info.name = universe.Name();
            info.outputPorts = universe.OutputPortCount();
            info.ltp = universe.MergeMode() == ola::client::OlaUniverse::MERGE_LTP;
        }
    }
};

int probePort(std::uint16_t address, const PortioSettings* settings, PortioText report) {
    const auto read = readOptions(address, *settings);
    if (!read) {
        give(report, read.error());
        return 0;
    }
    const OlaPortOptions& options = *read;
    const std::string label = olaPortLabel(options);
    const std::string where = runlight::portio::ola_backend::oladdress(options.rpcPort);
    auto connected = OlaConnection::connect(options.rpcPort);
    if (!connected) {
        give(report, label + ": " + connected.error());
        return 0;
    }
    const auto& connection = *connected;
    UniverseAnswer answer;
    connection->client().FetchUniverseInfo(options.universe,
                                           ola::NewSingleCallback(&answer, &UniverseAnswer::take));
    constexpr int kAnswerMs = 2000;
    if (!connection->runUntil([&answer] { return answer.answered; }, kAnswerMs)) {
        give(report,
             label + ": olad on " + where + " took the connection but did not answer within 2 s");
        return 0;
    }
    const std::string channels = "channels " + std::to_string(options.channel) + ".." +
                                 std::to_string(options.channel + 7) + " at level " +
                                 std::to_string(options.level);
    const auto& info = answer.info;
    if (const std::string problem = universeProblem(options, info); !problem.empty()) {
        give(report, label + ": " + problem);
        return 0;
    }
    give(report, label + ": olad answers on " + where + "; universe " +
                     std::to_string(options.universe) + " (\"" + info.name + "\") has " +
                     std::to_string(info.outputPorts) + " output port" +
                     (info.outputPorts == 1 ? "" : "s") + "; " + channels +
                     (info.ltp ? "; merge mode LTP: this port's frame also sets the other "
                                 "channels of the universe to 0"
                               : "") +
                     (options.keepAliveMs > 0
                          ? "; keep-alive: the last frame again after " +
                                std::to_string(options.keepAliveMs) + " ms without one"
                          : "; keep-alive off: olad sends a frame only when this port writes one") +
                     // Where the user picks the speed for this output: the
                     // medium's own floor.
                     "; speed: a DMX line carries a whole frame in about 23 ms (at most about "
                     "44 frames a second), so a DMX interface merges steps shorter than that; "
                     "Art-Net and sACN outputs have no such floor");
    return 1;
}

PortioWatch* watchPort(std::uint16_t address, const PortioSettings* settings,
                       void (*changed)(void* context), void* context, PortioText title,
                       PortioText error) {
    const auto read = readOptions(address, *settings);
    if (!read) {
        give(error, read.error());
        return nullptr;
    }
    const OlaPortOptions& options = *read;
    give(title, "OLA universe " + std::to_string(options.universe) + ", channels " +
                    std::to_string(options.channel) + "–" + std::to_string(options.channel + 7) +
                    " · olad " + runlight::portio::ola_backend::oladdress(options.rpcPort));
    return new PortioWatch{std::make_unique<runlight::portio::ola_backend::UniverseWatcher>(
        options.rpcPort, options.universe, options.channel,
        [changed, context] { changed(context); })};
}

int readWatch(PortioWatch* watch, std::uint8_t levels[8], PortioText problem) {
    const auto now = watch->watcher->snapshot();
    for (std::size_t i = 0; i < now.channels.size(); ++i) {
        levels[i] = now.channels[i];
    }
    if (!now.connected) {
        give(problem, now.problem.empty() ? "connecting to olad" : now.problem);
    }
    return now.connected ? 1 : 0;
}

void unwatch(PortioWatch* watch) {
    delete watch;
}

const PortioModule kModule = {PORTIO_MODULE_ABI, "ola",      &openPort,  &writePort, &readPort,
                              &closePort,        &probePort, &watchPort, &readWatch, &unwatch};

}  // namespace

extern "C" __attribute__((visibility("default"))) const PortioModule* portio_module(
    std::uint32_t /*core_abi*/) {
    return &kModule;
}
