/* A port library for the tests: it records what PortOut is given and can be
   told to fail. The program's own binding code loads it by name, as it loads
   libportio.so.1. The test reaches the recorder through the TestPort_ calls. */

#include <stdint.h>
#include <string.h>

#define EXPORT __attribute__((visibility("default")))

enum { kCapacity = 4096 };

static int16_t g_ports[kCapacity];
static uint8_t g_values[kCapacity];
static int g_count;
static char g_failure[256];
static char g_lastError[256];

EXPORT void PortOut(int16_t port, uint8_t data) {
    if (g_failure[0] != '\0') {
        strcpy(g_lastError, g_failure);
        return;
    }
    g_lastError[0] = '\0';
    if (g_count < kCapacity) {
        g_ports[g_count] = port;
        g_values[g_count] = data;
        ++g_count;
    }
}

EXPORT const char* PortLastError(void) {
    return g_lastError;
}

EXPORT int TestPort_Count(void) {
    return g_count;
}
EXPORT int TestPort_Port(int i) {
    return g_ports[i];
}
EXPORT int TestPort_Value(int i) {
    return g_values[i];
}
EXPORT void TestPort_Reset(void) {
    g_count = 0;
    g_failure[0] = '\0';
    g_lastError[0] = '\0';
}
/* Every PortOut from now on fails with this report; "" makes them work again. */
EXPORT void TestPort_FailWith(const char* report) {
    strncpy(g_failure, report, sizeof g_failure - 1);
    g_failure[sizeof g_failure - 1] = '\0';
}
