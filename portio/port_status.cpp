#include "port_status.h"

#include <sys/stat.h>

#include "module_loader.h"
#include "parport_device.h"
#include "port_backend.h"
#include "port_chooser.h"
#include "settings.h"
#include "sim_port.h"

namespace runlight::portio {

namespace {

std::string fileLine(const Environment& environment, std::uint16_t address) {
    if (environment.configFile.empty()) {
        return "settings file: none (neither XDG_CONFIG_HOME nor HOME is set)\n";
    }
    const auto file = readSettingsFile(environment.configFile);
    if (!file) {
        return "settings file: " + file.error() + "\n";
    }
    if (!file->exists) {
        return "settings file: " + environment.configFile + " (not there)\n";
    }
    const auto section = file->ports.find(address);
    return "settings file: " + environment.configFile +
           (section == file->ports.end() ? " (no [port " + std::to_string(address) + "] section)\n"
                                         : " ([port " + std::to_string(address) + "] on line " +
                                               std::to_string(section->second.line) + ")\n");
}

std::string ruleText(const ParportChoice& choice, std::uint16_t address) {
    switch (choice.rule) {
        case ParportChoice::Rule::Address:
            return "its base address is " + std::to_string(address);
        case ParportChoice::Rule::FirstPort:
            return "no port has base address 888, so the first parallel port";
        case ParportChoice::Rule::Override:
            return "named by the device setting";
    }
    return "";
}

}  // namespace

PortStatus portStatus(std::uint16_t address, const Environment& environment) {
    PortStatus status;
    std::string& text = status.text;
    text = portLabel(address) + "\n" + fileLine(environment, address);
    PortSettings resolved;
    const Choice choice = chooseWithSettings(address, environment, resolved);
    if (choice.kind == Choice::Kind::Error && resolved.values().empty()) {
        text += "error: " + choice.error + "\n";
        return status;
    }
    const SettingValue* backend = resolved.find("backend");
    text += "backend: " + backend->text + " (from " + backend->origin + ")\n";
    forEachKey([&](const SettingKey& key, const BackendInfo* owner) {
        const SettingValue* value = resolved.find(key.key);
        const bool shown = std::string_view(key.key) != "backend" &&
                           (owner == nullptr || backend->text == owner->name);
        if (shown && value != nullptr) {
            text += "  " + std::string(key.key) + " = " + value->text + " (from " + value->origin +
                    "; " + key.variable + " overrides)\n";
        }
    });
    std::string error;
    switch (choice.kind) {
        case Choice::Kind::Error:
            text += "not reachable: " + choice.error + "\n";
            break;
        case Choice::Kind::Parport: {
            text += "uses: the real parallel port " + choice.parport.device + " (" +
                    ruleText(choice.parport, address) + ")\n";
            const auto device = ParportDevice::open(
                address, choice.parport, environment.procRoot,
                environment.driver != nullptr ? *environment.driver : ParportDriver::system());
            status.reachable = device.has_value();
            text += status.reachable
                        ? "reachable: yes, opened and claimed it (and let go)\n"
                        : "not reachable: " + portLabel(address) + ": " + device.error() + "\n";
            break;
        }
        case Choice::Kind::Sim: {
            text += std::string("uses: the simulated port") +
                    (backend->text == "sim" ? "" : " (no parallel port for this address)") + "\n";
            // Opened as a write opens it (made if missing, its blocks
            // allocated), so that a full filesystem or a link in its place
            // shows here as it would at the first write.
            const auto folder = simFolder(environment.runtimeDir, environment.tmpDir);
            const auto port = folder ? SimPort::open(address, *folder) : fail(folder.error());
            status.reachable = port.has_value();
            if (!folder) {
                error = folder.error();  // the folder serves every port: not named
            } else if (!port) {
                error = simLabel(address) + ": " + port.error();
            }
            text += status.reachable
                        ? "reachable: yes, " + (*port)->path() + " (portio-monitor shows it)\n"
                        : "not reachable: " + error + "\n";
            break;
        }
        case Choice::Kind::Module: {
            const auto module = BackendModule::load(
                *choice.module,
                environment.moduleFolders.empty() ? moduleFolders() : environment.moduleFolders);
            if (!module) {
                text += "not reachable: " + module.error() + "\n";
                break;
            }
            text += "uses: " + (*module)->path() + "\n";
            const auto probed = (*module)->probe(address, resolved);
            status.reachable = probed.has_value();
            text += probed ? "reachable: yes, " + *probed + "\n"
                           : "not reachable: " + probed.error() + "\n";
            break;
        }
    }
    return status;
}

}  // namespace runlight::portio
