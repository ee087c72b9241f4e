#include "port_chooser.h"

#include <cstdlib>
#include <utility>

#include "backend_table.h"
#include "port_backend.h"
#include "settings.h"

namespace runlight::portio {

namespace {
std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// A choice that failed: the port's label goes on here, once, for every
// reason the choice itself finds.
Choice failed(std::uint16_t address, const std::string& reason) {
    Choice choice;
    choice.error = portLabel(address) + ": " + reason + "; nothing was written";
    return choice;
}
}  // namespace

Environment Environment::fromProcess() {
    Environment environment;
    environment.backend = variable("PORTIO_BACKEND");
    environment.device = variable("PORTIO_DEVICE");
    environment.trace = variable("PORTIO_TRACE");
    environment.runtimeDir = variable("XDG_RUNTIME_DIR");
    environment.tmpDir = variable("TMPDIR");
    environment.configFile = settingsFilePath(variable("XDG_CONFIG_HOME"), variable("HOME"));
    forEachKey([&environment](const SettingKey& key, const BackendInfo*) {
        const std::string value = variable(key.variable);
        if (!value.empty()) {
            environment.variables[key.variable] = value;
        }
    });
    return environment;
}

Choice choose(std::uint16_t address, const Environment& environment) {
    Choice choice;
    const std::string& backend = environment.backend;
    if (backend == "sim") {
        choice.kind = Choice::Kind::Sim;
        return choice;
    }
    const BackendInfo* named = findBackend(backend);
    if (named != nullptr && named->kind == BackendInfo::Kind::Module) {
        choice.kind = Choice::Kind::Module;
        choice.module = named;
        return choice;
    }
    if (backend != "" && backend != "auto" && backend != "parport") {
        std::string known;
        for (const BackendInfo& each : kBackends) {
            known += (known.empty() ? "" : ", ") + std::string(each.name);
        }
        return failed(address, "PORTIO_BACKEND=" + backend + " is not one of " + known);
    }
    const auto found =
        findParport(address, environment.procRoot, environment.devRoot, environment.device);
    if (found) {
        choice.kind = Choice::Kind::Parport;
        choice.parport = *found;
    } else if (backend == "parport") {
        choice.error = portLabel(address) + ": " + noParportMessage(environment.procRoot);
    } else {
        choice.kind = Choice::Kind::Sim;
    }
    return choice;
}

Choice chooseWithSettings(std::uint16_t address, const Environment& environment,
                          PortSettings& resolved) {
    auto variables = environment.variables;
    const std::pair<const char*, const std::string*> direct[] = {
        {"PORTIO_BACKEND", &environment.backend},
        {"PORTIO_DEVICE", &environment.device},
        {"PORTIO_TRACE", &environment.trace}};
    for (const auto& [name, value] : direct) {
        if (!value->empty()) {
            variables[name] = *value;
        } else {
            variables.erase(name);
        }
    }
    auto read = resolvePortSettings(address, environment.configFile, variables);
    if (!read) {
        resolved = PortSettings{};
        return failed(address, read.error());
    }
    resolved = std::move(*read);
    Environment chosen = environment;
    chosen.backend = resolved.text("backend");
    chosen.device = resolved.text("device");
    chosen.trace = resolved.text("trace");
    return choose(address, chosen);
}

}  // namespace runlight::portio
