/* A back end module of the tests' own, built as libportio-ola.so.1 in folders
   of its own: once speaking this build's module interface (TEST_MODULE_ABI =
   PORTIO_MODULE_ABI) and once another one. Its back end keeps the byte and
   reads back the port's "universe" setting, so a test sees what the core
   handed it; writing 0xEE fails, naming where "universe" came from. */

#include <stdio.h>
#include <stdlib.h>

#include "portio_module.h"

#if defined(__GNUC__)
#define TEST_MODULE_EXPORT __attribute__((visibility("default")))
#else
#define TEST_MODULE_EXPORT
#endif

struct PortioBackend {
    uint16_t address;
    uint8_t universe;
    char origin[256];
};

static PortioBackend* openPort(uint16_t address, const PortioSettings* settings, PortioText error) {
    const char* universe = settings->value(settings->context, "universe");
    if (universe == NULL) {
        error.assign(error.context, "test module: no universe was handed over");
        return NULL;
    }
    PortioBackend* backend = calloc(1, sizeof *backend);
    if (backend == NULL) {
        return NULL;
    }
    backend->address = address;
    backend->universe = (uint8_t)atoi(universe);
    snprintf(backend->origin, sizeof backend->origin, "%s",
             settings->origin(settings->context, "universe"));
    return backend;
}

static int writePort(PortioBackend* backend, uint8_t data, PortioText error) {
    if (data == 0xEE) {
        char text[300];
        snprintf(text, sizeof text, "test module: refused, universe from %s", backend->origin);
        error.assign(error.context, text);
        return 0;
    }
    return 1;
}

static int readPort(PortioBackend* backend, uint8_t* data, PortioText error) {
    (void)error;
    *data = backend->universe;
    return 1;
}

static void closePort(PortioBackend* backend) {
    free(backend);
}

static int probePort(uint16_t address, const PortioSettings* settings, PortioText report) {
    (void)address;
    (void)settings;
    report.assign(report.context, "test module: reachable");
    return 1;
}

static const PortioModule kModule = {TEST_MODULE_ABI, "ola",      &openPort, &writePort, &readPort,
                                     &closePort,      &probePort, NULL,      NULL,       NULL};

TEST_MODULE_EXPORT const PortioModule* portio_module(uint32_t core_abi) {
    (void)core_abi;
    return &kModule;
}
