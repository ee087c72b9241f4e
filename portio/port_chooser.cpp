#include "port_chooser.h"

#include <cstdlib>

#include "port_backend.h"

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
    return settings;
}

Choice choose(std::uint16_t address, const Settings& settings) {
    Choice choice;
    const std::string& backend = settings.backend;
    if (backend == "sim") {
        choice.kind = Choice::Kind::Sim;
        return choice;
    }
    if (backend != "" && backend != "auto" && backend != "parport") {
        choice.error = portLabel(address) + ": PORTIO_BACKEND=" + backend +
                       " is not one of auto, parport, sim; nothing was written";
        return choice;
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

}  // namespace runlight::portio
