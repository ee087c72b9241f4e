#include "port_io.h"

#include <utility>

#include "module_loader.h"
#include "parport_device.h"
#include "settings.h"
#include "sim_port.h"
#include "trace.h"

namespace runlight::portio {

PortIo::PortIo(Settings settings) : m_settings(std::move(settings)) {}

PortIo::~PortIo() = default;

PortBackend* PortIo::backendFor(std::uint16_t address) {
    auto& slot = m_ports[address];
    if (slot) {
        return slot.get();
    }
    PortSettings resolved;
    const Choice choice = chooseWithSettings(address, m_settings, resolved);
    m_tracePaths[address] =
        choice.kind == Choice::Kind::Error ? m_settings.trace : resolved.text("trace");
    switch (choice.kind) {
        case Choice::Kind::Parport:
            slot = ParportDevice::open(
                address, choice.parport, m_settings.procRoot, m_lastError,
                m_settings.driver != nullptr ? *m_settings.driver : ParportDriver::system());
            break;
        case Choice::Kind::Sim: {
            const std::string folder =
                simFolder(m_settings.runtimeDir, m_settings.tmpDir, m_lastError);
            if (folder.empty()) {
                m_lastError = portLabel(address) + " (simulated): " + m_lastError;
            } else {
                slot = SimPort::open(address, folder, m_lastError);
            }
            break;
        }
        case Choice::Kind::Module: {
            const auto module = BackendModule::load(
                *choice.module,
                m_settings.moduleFolders.empty() ? moduleFolders() : m_settings.moduleFolders,
                m_lastError);
            if (!module) {
                m_lastError = portLabel(address) + ": " + m_lastError + "; nothing was written";
            } else {
                slot = module->open(address, resolved, m_lastError);
            }
            break;
        }
        case Choice::Kind::Error:
            m_lastError = choice.error;
            break;
    }
    if (!slot) {
        m_ports.erase(address);
        return nullptr;
    }
    return slot.get();
}

void PortIo::traceOut(std::uint16_t address, std::uint8_t data) {
    const auto path = m_tracePaths.find(address);
    const std::string& tracePath = path != m_tracePaths.end() ? path->second : m_settings.trace;
    if (tracePath.empty() || m_traceGivenUp) {
        return;
    }
    std::string error;
    if (!m_trace || m_tracePath != tracePath) {
        m_trace = Trace::open(tracePath, error);
        m_tracePath = tracePath;
    }
    if (m_trace && m_trace->record(address, data, error)) {
        return;
    }
    m_trace.reset();
    m_traceGivenUp = true;
    m_lastError += (m_lastError.empty() ? "" : "; ") + error;
}

void PortIo::out(std::int16_t port, std::uint8_t data) {
    const auto address = static_cast<std::uint16_t>(port);
    m_lastError.clear();
    PortBackend* backend = backendFor(address);
    if (backend != nullptr && !backend->write(data, m_lastError)) {
        m_ports.erase(address);  // released and closed; the next call starts afresh
    }
    traceOut(address, data);
}

std::uint8_t PortIo::in(std::int16_t port) {
    const auto address = static_cast<std::uint16_t>(port);
    m_lastError.clear();
    std::uint8_t data = 0;
    PortBackend* backend = backendFor(address);
    if (backend != nullptr && !backend->read(data, m_lastError)) {
        data = 0;
        m_ports.erase(address);  // as after a failed write
    }
    return data;
}

}  // namespace runlight::portio
