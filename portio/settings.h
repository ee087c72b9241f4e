#pragma once

// What steers one port: the settings file's [port N] section, with the
// environment over it, with defaults under it.
//
// The file is $XDG_CONFIG_HOME/portio/portio.conf (~/.config/portio/portio.conf
// when XDG_CONFIG_HOME is unset), an INI file with one section per port:
//
//     [port 888]
//     backend = ola
//     universe = 1
//
// Every key has one environment variable that overrides it wherever it is set
// (PORTIO_BACKEND, PORTIO_OLA_UNIVERSE, ...). The keys of every back end,
// built in or loaded as a module, are in the one table of back ends
// (backend_table.h), so that a file is checked whole, with its line numbers,
// before any module is loaded; a back end module receives its port's values
// through the module interface (portio_module.h) and never reads the file
// itself.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "backend_table.h"
#include "result.h"

namespace runlight::portio {

// A value and where it came from, for messages and for portio-out --status.
struct SettingValue {
    std::string text;
    // "PORTIO_OLA_UNIVERSE", "/home/ann/.config/portio/portio.conf:3", or "default"
    std::string origin;
};

// One port's settings, resolved.
class PortSettings {
public:
    // The value of `key`, or null when nothing sets it.
    const SettingValue* find(std::string_view key) const;
    // Its text, or "" when nothing sets it.
    std::string text(std::string_view key) const;
    void set(std::string key, SettingValue value) { m_values[std::move(key)] = std::move(value); }
    const std::map<std::string, SettingValue, std::less<>>& values() const { return m_values; }

private:
    std::map<std::string, SettingValue, std::less<>> m_values;
};

// The settings file, read and checked.
struct SettingsFile {
    std::string path;
    bool exists = false;
    struct Section {
        int line = 0;           // of the [port N] header
        PortSettings settings;  // origins "<path>:<line>"
    };
    std::map<std::uint16_t, Section> ports;  // by address
};

// Reads and checks the file at `path`, never waiting on it. A missing file
// is no error: no port is set in it. Anything else that is wrong
// (unreadable, not a regular file of at most 64 KiB, a link to nothing, a
// NUL byte, not INI, text after a section's "]", "key: value", a section
// that is not [port N] or comes twice, an unknown key, a key set twice, a
// bad value) fails, naming the file, the line and what is wrong:
// "/home/ann/.config/portio/portio.conf:3: ...".
Result<SettingsFile> readSettingsFile(const std::string& path);

// <configHome>/portio/portio.conf when configHome is an absolute path, else
// <home>/.config/portio/portio.conf, else "" (no file).
std::string settingsFilePath(const std::string& configHome, const std::string& home);

// The settings of port `address`: defaults, then the file's [port N]
// section, then `variables` (environment variable name -> value, only those
// set; an empty value counts as unset). Each environment value of the
// library's own keys and of the chosen back end's keys is checked; a bad one
// fails, naming the variable and the value. The file's errors come back as
// readSettingsFile gives them.
Result<PortSettings> resolvePortSettings(
    std::uint16_t address, const std::string& filePath,
    const std::map<std::string, std::string, std::less<>>& variables);

}  // namespace runlight::portio
