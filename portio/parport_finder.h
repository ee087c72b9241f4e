#pragma once

// Which /dev/parportN drives a given I/O address. The parport driver lists its
// ports under <proc>/sys/dev/parport/parportN, each with a base-addr file whose
// first field is the port's base I/O address in decimal. The roots are
// parameters so that tests can use a tree of their own.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace runlight::portio {

inline constexpr const char* kProcRoot = "/proc";
inline constexpr const char* kDevRoot = "/dev";
// 0x378: the design's port, the data register of the first parallel port.
inline constexpr std::uint16_t kFirstPortAddress = 888;

struct ParportInfo {
    int number = 0;                 // N of parportN
    std::uint32_t baseAddress = 0;  // base I/O address
};

// Ports listed under `procRoot`, by number. Empty when the parport driver is
// not loaded (no such folder) or lists nothing.
std::vector<ParportInfo> listParports(const std::string& procRoot);

struct ParportChoice {
    enum class Rule { Address, FirstPort, Override };
    std::string device;  // "/dev/parport0"
    int number = -1;     // N, or -1 for an override whose name carries no number
    Rule rule = Rule::Address;
};

// The device for `address`: `overrideDevice` when it is not empty; else the
// port whose base address is `address`; else, for 888 only, the first port
// (lowest number), since PCIe cards sit at other addresses; else nothing.
std::optional<ParportChoice> findParport(std::uint16_t address, const std::string& procRoot,
                                         const std::string& devRoot,
                                         const std::string& overrideDevice);

// N of a device path ending in "parportN", or -1.
int parportNumber(const std::string& device);

// Who holds port N right now, as the driver names it ("lp0", "ppdev0"), or ""
// when it is free or the driver does not tell.
std::string parportHolder(const std::string& procRoot, int number);

// Why there is no port at this address, with what the user can do (the
// port's label is the caller's to add).
std::string noParportMessage(const std::string& procRoot);

}  // namespace runlight::portio
