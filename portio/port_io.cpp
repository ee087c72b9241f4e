#include "port_io.h"

#include <cstdio>
#include <utility>

#include "module_loader.h"
#include "parport_device.h"
#include "settings.h"
#include "sim_port.h"
#include "trace.h"

namespace runlight::portio {

PortIo::PortIo(Environment settings) : m_settings(std::move(settings)) {}

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
        case Choice::Kind::Parport: {
            auto device = ParportDevice::open(
                address, choice.parport, m_settings.procRoot,
                m_settings.driver != nullptr ? *m_settings.driver : ParportDriver::system());
            if (device) {
                slot = std::move(*device);
            } else {
                m_lastError = portLabel(address) + ": " + device.error();
            }
            break;
        }
        case Choice::Kind::Sim: {
            const auto folder = simFolder(m_settings.runtimeDir, m_settings.tmpDir);
            auto port = folder ? SimPort::open(address, *folder) : fail(folder.error());
            if (port) {
                slot = std::move(*port);
            } else {
                m_lastError = simLabel(address) + ": " + port.error();
            }
            break;
        }
        case Choice::Kind::Module: {
            const auto module = BackendModule::load(*choice.module, m_settings.moduleFolders.empty()
                                                                        ? moduleFolders()
                                                                        : m_settings.moduleFolders);
            auto opened =
                module ? (*module)->open(address, resolved)
                       : fail(portLabel(address) + ": " + module.error() + "; nothing was written");
            if (opened) {
                slot = std::move(*opened);
            } else {
                m_lastError = opened.error();
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
    if (tracePath != m_tracePath) {  // another port's file, or the settings changed
        m_trace.reset();
        m_tracePath = tracePath;
        m_traceOpenFailed = false;
        m_traceTroubleTold = false;
    }
    if (tracePath.empty() || m_traceOpenFailed) {
        return;
    }
    if (!m_trace) {
        auto opened = Trace::open(tracePath);
        if (!opened) {
            m_traceOpenFailed = true;
            std::fprintf(stderr, "portio: %s; the port is written all the same, without a trace\n",
                         opened.error().c_str());
            return;
        }
        m_trace = std::move(*opened);
    }
    std::string error;
    const Trace::Outcome outcome = m_trace->record(address, data, error);
    // The first line dropped is told, not every one (the count comes when the
    // trace closes); that the trace has closed is told when it happens.
    if (outcome == Trace::Outcome::Closed ||
        (outcome == Trace::Outcome::Dropped && !m_traceTroubleTold && !error.empty())) {
        m_traceTroubleTold = true;
        std::fprintf(stderr, "portio: %s; the port is written all the same\n", error.c_str());
    }
}

void PortIo::out(std::int16_t port, std::uint8_t data) {
    const auto address = static_cast<std::uint16_t>(port);
    m_lastError.clear();
    PortBackend* backend = backendFor(address);
    if (backend != nullptr) {
        const auto written = backend->write(data);
        if (written) {
            m_lastError.clear();  // landed: whatever was said on the way there is no failure
        } else {
            m_lastError = labelled(*backend, written.error());
            m_ports.erase(address);  // released and closed; the next call starts afresh
        }
    }
    traceOut(address, data);
}

std::uint8_t PortIo::in(std::int16_t port) {
    const auto address = static_cast<std::uint16_t>(port);
    m_lastError.clear();
    PortBackend* backend = backendFor(address);
    if (backend == nullptr) {
        return 0;
    }
    const auto read = backend->read();
    if (!read) {
        m_lastError = labelled(*backend, read.error());
        m_ports.erase(address);  // as after a failed write
        return 0;
    }
    return *read;
}

}  // namespace runlight::portio
