#include "port_chooser.h"

#include <cstdlib>
#include <utility>

#include "backend_table.h"
#include "port_backend.h"
#include "settings.h"

namespace runlight::portio {

namespace {
std::string environment(const char* name) {
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

Settings Settings::fromEnvironment() {
    Settings settings;
    settings.backend = environment("PORTIO_BACKEND");
    settings.device = environment("PORTIO_DEVICE");
    settings.trace = environment("PORTIO_TRACE");
    settings.runtimeDir = environment("XDG_RUNTIME_DIR");
    settings.tmpDir = environment("TMPDIR");
    settings.configFile = settingsFilePath(environment("XDG_CONFIG_HOME"), environment("HOME"));
    forEachKey([&settings](const SettingKey& key, const BackendInfo*) {
        const std::string value = environment(key.variable);
        if (!value.empty()) {
            settings.variables[key.variable] = value;
        }
    });
    return settings;
}

Choice choose(std::uint16_t address, const Settings& settings) {
    Choice choice;
    const std::string& backend = settings.backend;
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
    const auto found = findParport(address, settings.procRoot, settings.devRoot, settings.device);
    if (found) {
        choice.kind = Choice::Kind::Parport;
        choice.parport = *found;
    } else if (backend == "parport") {
        choice.error = noParportMessage(address, settings.procRoot);
    } else {
        choice.kind = Choice::Kind::Sim;
    }
    return choice;
}

Choice chooseWithSettings(std::uint16_t address, const Settings& settings, PortSettings& resolved) {
    auto variables = settings.variables;
    const std::pair<const char*, const std::string*> direct[] = {
        {"PORTIO_BACKEND", &settings.backend},
        {"PORTIO_DEVICE", &settings.device},
        {"PORTIO_TRACE", &settings.trace}};
    for (const auto& [name, value] : direct) {
        if (!value->empty()) {
            variables[name] = *value;
        } else {
            variables.erase(name);
        }
    }
    auto read = resolvePortSettings(address, settings.configFile, variables);
    if (!read) {
        resolved = PortSettings{};
        return failed(address, read.error());
    }
    resolved = std::move(*read);
    Settings chosen = settings;
    chosen.backend = resolved.text("backend");
    chosen.device = resolved.text("device");
    chosen.trace = resolved.text("trace");
    return choose(address, chosen);
}

}  // namespace runlight::portio
