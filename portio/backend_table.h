#pragma once

// The one table of the port library's back ends and of the keys that steer a
// port. The settings file is checked against it, the environment variables
// are read by it, the chooser picks a back end from it, the module loader
// finds a module's file and package in it, and portio-out --status lists a
// port's settings in its order. A new back end, or a new key, is one line
// here.
//
// The words the library uses for what steers a port:
//   key           one thing that can be set for a port: "universe", with its
//                 environment variable (PORTIO_OLA_UNIVERSE), its default and
//                 the rule a value must follow (SettingKey, below);
//   settings file portio.conf, one [port N] section per port (SettingsFile,
//                 settings.h);
//   environment   what the library is given by its process at the first call:
//                 the variables over the file, the folders it uses and the
//                 system's calls (Environment, port_chooser.h);
//   PortSettings  one port's values, resolved from the defaults, the file and
//                 the environment, each with where it came from (settings.h);
//   PortioSettings the same values as a module sees them, through the module
//                 interface (portio_module.h).
//
// Header-only and constexpr, so that a module reads its keys' ranges from
// here without linking the core.

#include <cstddef>
#include <span>
#include <string_view>

namespace runlight::portio {

// What a value must be.
enum class Rule {
    BackendName,  // one of the back ends below: "is not one of auto, parport, ..."
    Text,         // anything but empty
    WholeNumber,  // decimal, low..high, nothing around it
    YesNo,        // yes/no, true/false, on/off, 1/0, in any case
    EightLines,   // eight distinct lines, lamp 1 (D7) first: offsets 0..65535 or names
};

struct SettingKey {
    const char* key;       // in the file: "universe"
    const char* variable;  // the environment variable over it: "PORTIO_OLA_UNIVERSE"
    const char* fallback;  // the value when neither file nor environment sets it; null: unset
    Rule rule;
    long low = 0;  // for WholeNumber
    long high = 0;
};

struct BackendInfo {
    enum class Kind {
        Auto,     // not a back end of its own: the real port when there is one, else sim
        BuiltIn,  // in libportio.so.1 itself
        Module,   // in a module of its own, loaded by name when chosen (portio_module.h)
    };
    const char* name;  // the `backend` value: "ola"
    Kind kind;
    const char* title;    // a module's, for messages: "OLA (DMX)"
    const char* file;     // the module's file: "libportio-ola.so.1"; null when not a module
    const char* package;  // the Debian package that brings the module: "qtx-ola"
    std::span<const SettingKey> keys;  // the back end's own keys
};

// The library's own keys, for every port whatever its back end.
inline constexpr SettingKey kPortKeys[] = {
    {"backend", "PORTIO_BACKEND", "auto", Rule::BackendName},
    {"device", "PORTIO_DEVICE", nullptr, Rule::Text},  // parport: /dev/parportN
    {"trace", "PORTIO_TRACE", nullptr, Rule::Text},
};

// OLA: DMX universe, first of the eight channels, on level of a set bit,
// olad's RPC port on this machine, and how often the last frame goes out
// again while nothing is written (ms, 0 = never).
inline constexpr SettingKey kOlaKeys[] = {
    {"universe", "PORTIO_OLA_UNIVERSE", "1", Rule::WholeNumber, 0, 2147483647},
    {"channel", "PORTIO_OLA_CHANNEL", "1", Rule::WholeNumber, 1, 505},
    {"level", "PORTIO_OLA_LEVEL", "255", Rule::WholeNumber, 1, 255},
    {"ola-port", "PORTIO_OLA_PORT", "9010", Rule::WholeNumber, 1, 65535},
    {"keep-alive", "PORTIO_OLA_KEEPALIVE", "1000", Rule::WholeNumber, 0, 10000},
};

// GPIO: the chip by name, path or label; its eight lines in lamp order, lamp
// 1 (D7) first; whether a line's low level switches its lamp on. Chip and
// lines have no default: the wrong pins of a guessed chip could drive
// anything.
inline constexpr SettingKey kGpioKeys[] = {
    {"chip", "PORTIO_GPIO_CHIP", nullptr, Rule::Text},
    {"lines", "PORTIO_GPIO_LINES", nullptr, Rule::EightLines},
    {"active-low", "PORTIO_GPIO_ACTIVE_LOW", "no", Rule::YesNo},
};

// Every value of `backend`, the default first, in the order messages list them.
inline constexpr BackendInfo kBackends[] = {
    {"auto", BackendInfo::Kind::Auto, "", nullptr, nullptr, {}},
    {"parport", BackendInfo::Kind::BuiltIn, "", nullptr, nullptr, {}},
    {"sim", BackendInfo::Kind::BuiltIn, "", nullptr, nullptr, {}},
    {"ola", BackendInfo::Kind::Module, "OLA (DMX)", "libportio-ola.so.1", "qtx-ola", kOlaKeys},
    {"gpio", BackendInfo::Kind::Module, "GPIO (libgpiod)", "libportio-gpio.so.1", "qtx-gpio",
     kGpioKeys},
};

// The back end named `name`, or null.
constexpr const BackendInfo* findBackend(std::string_view name) {
    for (const BackendInfo& backend : kBackends) {
        if (name == backend.name) {
            return &backend;
        }
    }
    return nullptr;
}

// The back end whose key `key` is (null for the library's own keys); sets
// `found` to the key, or leaves it null when no table has it.
constexpr const BackendInfo* ownerOf(std::string_view key, const SettingKey*& found) {
    found = nullptr;
    for (const SettingKey& known : kPortKeys) {
        if (key == known.key) {
            found = &known;
            return nullptr;
        }
    }
    for (const BackendInfo& backend : kBackends) {
        for (const SettingKey& known : backend.keys) {
            if (key == known.key) {
                found = &known;
                return &backend;
            }
        }
    }
    return nullptr;
}

// The key `key` of any back end, or null.
constexpr const SettingKey* findSettingKey(std::string_view key) {
    const SettingKey* found = nullptr;
    ownerOf(key, found);
    return found;
}

// Calls `visit(key, backend)` for every key, the library's own first (with
// a null back end), then each back end's in the table's order.
template <class Visit>
constexpr void forEachKey(Visit&& visit) {
    for (const SettingKey& key : kPortKeys) {
        visit(key, static_cast<const BackendInfo*>(nullptr));
    }
    for (const BackendInfo& backend : kBackends) {
        for (const SettingKey& key : backend.keys) {
            visit(key, &backend);
        }
    }
}

static_assert(findBackend("auto") == &kBackends[0], "the default back end comes first");
static_assert(findSettingKey("keep-alive")->high == 10000);

}  // namespace runlight::portio
