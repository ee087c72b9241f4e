#ifndef PORTIO_PORTIO_H
#define PORTIO_PORTIO_H

/* The port library's C interface (libportio.so.1).

   A port is named by its I/O address as a signed 16-bit number (888 = 0x378,
   the data register of the first parallel port; addresses above 0x7FFF come
   in negative and are taken as their unsigned 16-bit value). The library
   chooses, at the first call for a port, between the machine's real parallel
   port (through the ppdev driver), a simulated port in a small shared file
   that the lamp monitor shows, and back ends in modules loaded by name (OLA:
   eight DMX channels); the settings file ($XDG_CONFIG_HOME/portio/portio.conf)
   and the environment (PORTIO_BACKEND, PORTIO_DEVICE, PORTIO_TRACE,
   PORTIO_OLA_...) steer it (see docs/port-library.md). Nothing happens before the
   first call.

   Thread-compatible: calls from several threads must be serialised by the
   caller (the running light calls from its user-interface thread only). */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define PORTIO_API __attribute__((visibility("default")))
#else
#define PORTIO_API
#endif

/* Puts `data` on the data lines of `port` at once. Never fails loudly: ask
   PortLastError afterwards. */
PORTIO_API void PortOut(int16_t port, uint8_t data);

/* NULL or "" when the byte of the last PortOut landed on the port (or the
   last PortIn read it); otherwise a message naming the port, the device and
   the system's reason. It speaks of the byte only: trouble with the trace
   (PORTIO_TRACE) is told once on standard error instead. The text stays
   valid until the next call into the library. */
PORTIO_API const char* PortLastError(void);

/* Reads the data register of `port`: the real port's data lines (PPRDATA),
   or the byte last written to the simulated port by any process. Returns 0
   on failure, with the reason in PortLastError. */
PORTIO_API uint8_t PortIn(int16_t port);

#ifdef __cplusplus
}
#endif

#endif /* PORTIO_PORTIO_H */
