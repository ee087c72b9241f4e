#include "port_chooser.h"

#include <cstdlib>

#include "module_loader.h"
#include "port_backend.h"
#include "settings.h"

namespace runlight::portio {

namespace {
std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
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
    for (const SettingKey& key : settingKeys()) {
        const std::string value = environment(key.variable);
        if (!value.empty()) {
            settings.variables[key.variable] = value;
        }
    }
    return settings;
}

Choice choose(std::uint16_t address, const Settings& settings) {
    Choice choice;
    const std::string& backend = settings.backend;
    if (backend == "sim") {
        choice.kind = Choice::Kind::Sim;
        return choice;
    }
    if (const ModuleInfo* module = findModuleInfo(backend)) {
        choice.kind = Choice::Kind::Module;
        choice.module = module;
        return choice;
    }
    if (backend != "" && backend != "auto" && backend != "parport") {
        std::string known;
        for (const char* name : backendNames()) {
            known += (known.empty() ? "" : ", ") + std::string(name);
        }
        choice.error = portLabel(address) + ": PORTIO_BACKEND=" + backend + " is not one of " +
                       known + "; nothing was written";
        return choice;
    }
    const auto found = findParport(address, settings.procRoot, settings.devRoot, settings.device);
    if (found) {
        choice.kind = Choice::Kind::Parport;
        choice.parport = *found;
    } else if (backend == "parport") {
        choice.error = portLabel(address) + ": " + noParportMessage(settings.procRoot);
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
    std::string error;
    if (!resolvePortSettings(address, settings.configFile, variables, resolved, error)) {
        resolved = PortSettings{};
        Choice choice;
        choice.error = portLabel(address) + ": " + error + "; nothing was written";
        return choice;
    }
    Settings chosen = settings;
    chosen.backend = resolved.text("backend");
    chosen.device = resolved.text("device");
    chosen.trace = resolved.text("trace");
    return choose(address, chosen);
}

}  // namespace runlight::portio
