// The library's exports. Nothing runs at load time: the settings are read and
// the ports opened at the first call. When the library is unloaded (dlclose;
// the running light keeps it loaded, failures and all, until it ends) or the
// program ends, the one PortIo is destroyed, which releases every claimed
// port and closes it.

#include "portio.h"

#include <optional>

#include "port_io.h"

namespace {
using runlight::portio::Environment;
using runlight::portio::PortIo;

std::optional<PortIo> g_io;  // constant-initialised empty; made at the first call

PortIo& io() {
    if (!g_io) {
        g_io.emplace(Environment::fromProcess());
    }
    return *g_io;
}
}  // namespace

extern "C" {

PORTIO_API void PortOut(int16_t port, uint8_t data) {
    io().out(port, data);
}

PORTIO_API const char* PortLastError(void) {
    return g_io ? g_io->lastError().c_str() : "";
}

PORTIO_API uint8_t PortIn(int16_t port) {
    return io().in(port);
}

}  // extern "C"
