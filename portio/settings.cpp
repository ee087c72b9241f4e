#include "settings.h"

#include <fcntl.h>
#include <ini.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <optional>

#include "port_backend.h"
#include "setting_rules.h"
#include "unique_fd.h"

namespace runlight::portio {

namespace {

std::string knownKeys() {
    std::string known;
    forEachKey([&known](const SettingKey& key, const BackendInfo*) {
        known += (known.empty() ? "" : ", ") + std::string(key.key);
    });
    return known;
}

// "port 888" or "port 0x378" -> 888.
bool sectionAddress(std::string_view name, std::uint16_t& address) {
    constexpr std::string_view kPrefix = "port";
    if (name.substr(0, kPrefix.size()) != kPrefix) {
        return false;
    }
    name.remove_prefix(kPrefix.size());
    const auto digits = name.find_first_not_of(" \t");
    if (digits == 0 || digits == std::string_view::npos) {
        return false;
    }
    name.remove_prefix(digits);
    int base = 10;
    if (name.size() > 2 && name[0] == '0' && (name[1] == 'x' || name[1] == 'X')) {
        name.remove_prefix(2);
        base = 16;
    }
    unsigned long number = 0;
    const auto [end, status] =
        std::from_chars(name.data(), name.data() + name.size(), number, base);
    if (name.empty() || status != std::errc() || end != name.data() + name.size() ||
        number > 0xFFFF) {
        return false;
    }
    address = static_cast<std::uint16_t>(number);
    return true;
}

// A settings file is a few lines; anything much longer is not one.
constexpr off_t kMaxFileSize = 64 * 1024;

// What `mode` is, for a message: "a FIFO".
std::string fileKind(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a regular file";
}

// The whole of the file at `path`, or nothing when there is no file there.
// Opened without blocking (a FIFO has no writer to wait for) and refused
// unless a regular file of at most kMaxFileSize bytes: a link to /dev/zero
// would be read for ever. A link to nothing is an error.
Result<std::optional<std::string>> readWhole(const std::string& path) {
    const UniqueFd fd(
        aboveStandardStreams(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)));
    if (!fd) {
        const int errnum = errno;
        struct stat link {};
        if (errnum == ENOENT && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            std::string target(256, '\0');
            const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
            target.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
            return fail(path + ": a link to " + target +
                        ", which does not exist; mend the link or remove it");
        }
        if (errnum == ENOENT) {
            return std::optional<std::string>{};
        }
        return fail(path + ": cannot read it: " + systemReason(errnum));
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) < 0) {
        return fail(path + ": cannot read it: " + systemReason(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        return fail(path + ": cannot read it: it is " + fileKind(info.st_mode) +
                    ", not a text file; put the settings in a plain file there, or remove it");
    }
    std::string text;
    char buffer[4096];
    ssize_t got = 0;
    while (static_cast<off_t>(text.size()) <= kMaxFileSize &&
           ((got = ::read(fd.get(), buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))) {
        text.append(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    if (got < 0) {
        return fail(path + ": cannot read it: " + systemReason(errno));
    }
    if (static_cast<off_t>(text.size()) > kMaxFileSize) {
        return fail(path + ": cannot read it: it is longer than " + std::to_string(kMaxFileSize) +
                    " bytes, too long for a settings file");
    }
    return std::optional<std::string>(std::move(text));
}

// One reading of a file through inih. inih reads the file a line at a time
// through readLine, so the line count here is inih's own, and what inih
// hands the handler was read on that line. Section headers are checked as
// their line is read, since inih says nothing of a section that holds no key.
struct Reading {
    std::string_view rest;  // of the file, not yet handed to inih
    SettingsFile* out = nullptr;
    int line = 0;
    SettingsFile::Section* section =
        nullptr;  // the current [port N]; null before one or in a bad one
    bool badSection = false;
    std::map<std::string, int, std::less<>> keyLines;  // of the current section
    int errorLine = 0;                                 // of the first problem found here
    std::string error;

    void fail(const std::string& what) {
        if (errorLine == 0) {
            errorLine = line;
            error = what;
        }
    }

    void sectionHeader(std::string_view text) {
        const auto close = text.find(']');
        if (close == std::string_view::npos) {
            return;  // inih reports the line
        }
        const std::string_view name = text.substr(1, close - 1);
        section = nullptr;
        badSection = true;
        keyLines.clear();
        // inih drops what follows the "]": "[port 888] backend = ola" would
        // lose its setting. Only a comment may follow.
        std::string_view after = text.substr(close + 1);
        const auto end = after.find_last_not_of(" \t\r\n");
        after = end == std::string_view::npos ? std::string_view{} : after.substr(0, end + 1);
        const auto first = after.find_first_not_of(" \t");
        if (first != std::string_view::npos && !(first > 0 && after[first] == ';')) {
            fail("\"" + std::string(after.substr(first)) + "\" after the section's \"]\"; a " +
                 "section line holds [port N] alone, each setting goes on a line of its own");
            return;
        }
        std::uint16_t address = 0;
        if (!sectionAddress(name, address)) {
            fail("unknown section [" + std::string(name) +
                 "]; a section is [port N], N the port's address (888)");
            return;
        }
        auto [at, made] = out->ports.try_emplace(address);
        if (!made) {
            fail("[port " + std::to_string(address) + "] comes twice (first on line " +
                 std::to_string(at->second.line) + ")");
            return;
        }
        at->second.line = line;
        section = &at->second;
        badSection = false;
    }
};

constexpr int kLineLength = 200;  // inih's line buffer, with the newline and the end

char* readLine(char* text, int size, void* stream) {
    auto& reading = *static_cast<Reading*>(stream);
    if (reading.rest.empty()) {
        return nullptr;
    }
    ++reading.line;
    const auto newline = reading.rest.find('\n');
    std::string_view whole = reading.rest.substr(0, newline);
    reading.rest.remove_prefix(newline == std::string_view::npos ? reading.rest.size()
                                                                 : newline + 1);
    text[0] = '\0';
    const auto nul = whole.find('\0');
    if (nul != std::string_view::npos) {
        reading.fail("a NUL byte in the line (column " + std::to_string(nul + 1) +
                     "): the file is not plain text; save it as plain text");
        return text;
    }
    if (whole.size() > static_cast<std::size_t>(size - 2)) {
        // Longer than inih's buffer: inih would take the rest for a line of its own.
        reading.fail("the line is longer than " + std::to_string(kLineLength - 2) + " characters");
        return text;
    }
    if (reading.line == 1 && whole.substr(0, 3) == "\xEF\xBB\xBF") {
        whole.remove_prefix(3);  // a byte-order mark, which inih skips too
    }
    // Indentation means nothing here. inih would take an indented line after
    // a key for more of that key's value; no value here spans lines. That is
    // inih's INI_ALLOW_MULTILINE, a choice made when the library is built,
    // not by its user: Debian builds libinih.a (inih 55 in Debian 12) with it
    // on, so the indentation goes here, before inih sees the line.
    const auto start = whole.find_first_not_of(" \t");
    if (start == std::string_view::npos) {
        return text;
    }
    const std::string_view view = whole.substr(start);
    view.copy(text, view.size());
    text[view.size()] = '\n';
    text[view.size() + 1] = '\0';
    if (view.front() == '[') {
        reading.sectionHeader(view);
    } else if (view.front() != ';' && view.front() != '#') {
        // inih takes "key: value" too; here a key and its value are "key = value" only.
        const auto split = view.find_first_of("=:");
        if (split != std::string_view::npos && view[split] == ':') {
            const auto trimmed = [](std::string_view part) {
                const auto first = part.find_first_not_of(" \t\r\n");
                const auto last = part.find_last_not_of(" \t\r\n");
                return first == std::string_view::npos
                           ? std::string{}
                           : std::string(part.substr(first, last - first + 1));
            };
            const std::string key = trimmed(view.substr(0, split));
            const std::string value = trimmed(view.substr(split + 1));
            reading.fail("\"" + key + " : " + value + "\" has a colon; write \"" + key + " = " +
                         value + "\"");
        }
    }
    return text;
}

int onValue(void* user, const char* /*section*/, const char* name, const char* value) {
    auto& reading = *static_cast<Reading*>(user);
    if (reading.section == nullptr) {
        if (!reading.badSection) {
            reading.fail(std::string(name) + " = " + value +
                         " is outside a [port N] section; put it under [port 888]");
        }
        return 1;  // a bad section was reported at its header
    }
    const SettingKey* key = findSettingKey(name);
    if (key == nullptr) {
        reading.fail("unknown key \"" + std::string(name) + "\"; the keys are " + knownKeys());
        return 1;
    }
    auto [at, made] = reading.keyLines.try_emplace(name, reading.line);
    if (!made) {
        reading.fail(std::string(name) + " is set twice (first on line " +
                     std::to_string(at->second) + ")");
        return 1;
    }
    if (const auto checked = checkValue(*key, value); !checked) {
        reading.fail(std::string(name) + " = " + value + " " + checked.error());
        return 1;
    }
    reading.section->settings.set(name,
                                  {value, reading.out->path + ":" + std::to_string(reading.line)});
    return 1;
}

}  // namespace

const SettingValue* PortSettings::find(std::string_view key) const {
    const auto at = m_values.find(key);
    return at != m_values.end() ? &at->second : nullptr;
}

std::string PortSettings::text(std::string_view key) const {
    const SettingValue* value = find(key);
    return value != nullptr ? value->text : "";
}

Result<SettingsFile> readSettingsFile(const std::string& path) {
    SettingsFile file;
    file.path = path;
    auto text = readWhole(path);
    if (!text) {
        return fail(text.error());
    }
    file.exists = text->has_value();
    if (!file.exists) {
        return file;
    }
    Reading reading;
    reading.rest = **text;
    reading.out = &file;
    const int firstBadLine = ini_parse_stream(&readLine, &reading, &onValue, &reading);
    if (firstBadLine > 0 && (reading.errorLine == 0 || firstBadLine < reading.errorLine)) {
        return fail(path + ":" + std::to_string(firstBadLine) +
                    ": not a [port N] header, a key = value line or a comment");
    }
    if (reading.errorLine != 0) {
        return fail(path + ":" + std::to_string(reading.errorLine) + ": " + reading.error);
    }
    return file;
}

std::string settingsFilePath(const std::string& configHome, const std::string& home) {
    if (!configHome.empty() && configHome.front() == '/') {
        return configHome + "/portio/portio.conf";
    }
    if (!home.empty() && home.front() == '/') {
        return home + "/.config/portio/portio.conf";
    }
    return "";
}

Result<PortSettings> resolvePortSettings(
    std::uint16_t address, const std::string& filePath,
    const std::map<std::string, std::string, std::less<>>& variables) {
    PortSettings settings;
    forEachKey([&settings](const SettingKey& key, const BackendInfo*) {
        if (key.fallback != nullptr) {
            settings.set(key.key, {key.fallback, "default"});
        }
    });
    if (!filePath.empty()) {
        const auto file = readSettingsFile(filePath);
        if (!file) {
            return fail(file.error());
        }
        const auto section = file->ports.find(address);
        if (section != file->ports.end()) {
            for (const auto& [key, value] : section->second.settings.values()) {
                settings.set(key, value);
            }
        }
    }
    // The environment over the file: `backend` first, which says whose keys
    // are read (and checked) besides the library's own.
    const auto fromEnvironment = [&](const SettingKey& key) -> Result<void> {
        const auto set = variables.find(key.variable);
        if (set == variables.end() || set->second.empty()) {
            return {};
        }
        if (const auto checked = checkValue(key, set->second); !checked) {
            return fail(std::string(key.variable) + "=" + set->second + " " + checked.error());
        }
        settings.set(key.key, {set->second, key.variable});
        return {};
    };
    if (auto backend = fromEnvironment(*findSettingKey("backend")); !backend) {
        return fail(backend.error());
    }
    const std::string backend = settings.text("backend");
    Result<void> read;
    forEachKey([&](const SettingKey& key, const BackendInfo* owner) {
        const bool applies = owner == nullptr || backend == owner->name;
        if (read && applies && std::string_view(key.key) != "backend") {
            read = fromEnvironment(key);
        }
    });
    if (!read) {
        return fail(read.error());
    }
    return settings;
}

}  // namespace runlight::portio
