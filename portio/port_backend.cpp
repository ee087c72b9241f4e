#include "port_backend.h"

#include <cstdio>
#include <cstring>

namespace runlight::portio {

std::string portLabel(std::uint16_t address) {
    char text[32];
    std::snprintf(text, sizeof text, "port %u (0x%X)", static_cast<unsigned>(address),
                  static_cast<unsigned>(address));
    return text;
}

std::string systemReason(int errnum) {
    return std::strerror(errnum);
}

}  // namespace runlight::portio
