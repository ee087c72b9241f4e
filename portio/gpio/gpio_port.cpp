#include "gpio_port.h"

#include <dirent.h>
#include <gpiod.h>
#include <grp.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

namespace runlight::portio {

void GpioChipCloser::operator()(gpiod_chip* chip) const {
    gpiod_chip_close(chip);  // also releases the lines requested through it
}

namespace {

constexpr const char* kDevFolder = "/dev";

// The chips under /dev, in their numbers' order, each opened if it can be.
struct FoundChips {
    std::vector<GpioChipInfo> info;
    std::vector<GpioChipHandle> handles;  // null where info's openError is set
};

GpioChipInfo chipInfo(gpiod_chip* chip, std::string path) {
    GpioChipInfo info;
    info.name = gpiod_chip_name(chip);
    info.path = std::move(path);
    info.label = gpiod_chip_label(chip);
    info.lineCount = gpiod_chip_num_lines(chip);
    return info;
}

unsigned long chipNumber(const std::string& name) {
    return std::strtoul(name.c_str() + std::char_traits<char>::length("gpiochip"), nullptr, 10);
}

FoundChips findChips() {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(kDevFolder)) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.rfind("gpiochip", 0) == 0 && name.size() > 8) {
                names.push_back(name);
            }
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return chipNumber(a) < chipNumber(b);
    });
    FoundChips found;
    for (const std::string& name : names) {
        const std::string path = std::string(kDevFolder) + "/" + name;
        GpioChipHandle chip(gpiod_chip_open(path.c_str()));
        if (chip) {
            found.info.push_back(chipInfo(chip.get(), path));
        } else {
            GpioChipInfo info;
            info.name = name;
            info.path = path;
            info.openError = errno;
            found.info.push_back(info);
        }
        found.handles.push_back(std::move(chip));
    }
    return found;
}

// What an ordinary user does about a chip they may not open.
std::string permissionHint(const std::string& path) {
    std::string groupName;
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && status.st_gid != 0) {
        if (const struct group* entry = ::getgrgid(status.st_gid)) {
            groupName = entry->gr_name;
        }
    }
    if (!groupName.empty()) {
        return " (" + path + " belongs to the group " + groupName +
               ": join it with sudo usermod -aG " + groupName + " \"$USER\", then log in again)";
    }
    return " (" + path +
           " is root's alone: make a group gpio, join it (sudo groupadd -f -r gpio; sudo "
           "usermod -aG gpio \"$USER\") and give it the chips with a udev rule in "
           "/etc/udev/rules.d/60-gpiochip.rules: SUBSYSTEM==\"gpio\", KERNEL==\"gpiochip*\", "
           "GROUP=\"gpio\", MODE=\"0660\"; then sudo udevadm trigger and log in again)";
}

std::string openError(const std::string& path, int errnum) {
    std::string text = "cannot open " + path + ": " + systemReason(errnum);
    if (errnum == EACCES || errnum == EPERM) {
        text += permissionHint(path);
    }
    return text;
}

// The chip `wanted` names, opened; its info in `info`. Null with `error` set.
GpioChipHandle openChip(const std::string& wanted, GpioChipInfo& info, std::string& error) {
    FoundChips found = findChips();
    std::string notFound;
    if (const auto index = findGpioChip(wanted, found.info, notFound)) {
        info = found.info[*index];
        if (info.openError != 0) {
            error = openError(info.path, info.openError);
            return nullptr;
        }
        return std::move(found.handles[*index]);
    }
    // A path of its own (a udev symlink such as /dev/gpio/relays) is not
    // among the chips listed: open it as it is.
    if (!wanted.empty() && wanted.front() == '/') {
        GpioChipHandle chip(gpiod_chip_open(wanted.c_str()));
        if (chip) {
            info = chipInfo(chip.get(), wanted);
            return chip;
        }
        if (errno != ENOENT) {
            error = openError(wanted, errno);
            return nullptr;
        }
    }
    error = notFound + (found.info.empty()
                            ? " (is this the machine with the GPIO header, and is its GPIO "
                              "driver loaded?)"
                            : "; set the chip to one of them");
    // A label may belong to a chip this user may not open, whose label is unknown.
    for (const GpioChipInfo& chip : found.info) {
        if (chip.openError == EACCES || chip.openError == EPERM) {
            error += "; " + openError(chip.path, chip.openError);
            break;
        }
    }
    return nullptr;
}

std::string joinedTexts(const GpioLineRefs& lines) {
    std::string text;
    for (const GpioLineRef& line : lines) {
        text += (text.empty() ? "" : " ") + line.text;
    }
    return text;
}

std::string lineText(gpiod_line* line, unsigned offset) {
    const char* name = gpiod_line_name(line);
    return "line " + std::to_string(offset) +
           (name != nullptr && *name != '\0' ? " \"" + std::string(name) + "\"" : "");
}

// Who holds `line`: "" when nobody does. Reads the kernel's info afresh.
std::string holder(gpiod_line* line) {
    (void)gpiod_line_update(line);
    if (!gpiod_line_is_used(line)) {
        return {};
    }
    const char* consumer = gpiod_line_consumer(line);
    return consumer != nullptr && *consumer != '\0'
               ? "\"" + std::string(consumer) + "\""
               : "the kernel (no consumer name: a driver or another function of the pin)";
}

// "line 3 "relay4" (lamp 5 (D3)) is held by "other"; ..." for every held line.
std::string heldLines(const std::array<gpiod_line*, kGpioLineCount>& lines,
                      const GpioOffsets& offsets) {
    std::string text;
    for (std::size_t i = 0; i < kGpioLineCount; ++i) {
        const std::string by = holder(lines[i]);
        if (!by.empty()) {
            text += (text.empty() ? "" : "; ") + lineText(lines[i], offsets[i]) + " (" +
                    gpioLampLabel(i) + ") is held by " + by;
        }
    }
    return text;
}

// The chip and the eight lines of `config`, found but not requested.
struct FoundLines {
    GpioChipHandle chip;
    GpioChipInfo info;
    GpioOffsets offsets{};
    std::array<gpiod_line*, kGpioLineCount> lines{};
};

bool findLines(const GpioConfig& config, FoundLines& found, std::string& error) {
    found.chip = openChip(config.chip, found.info, error);
    if (!found.chip) {
        return false;
    }
    std::vector<std::string> names;
    const bool byName = std::any_of(config.lines.begin(), config.lines.end(),
                                    [](const GpioLineRef& line) { return !line.offset; });
    for (unsigned offset = 0; byName && offset < found.info.lineCount; ++offset) {
        gpiod_line* line = gpiod_chip_get_line(found.chip.get(), offset);
        const char* name = line != nullptr ? gpiod_line_name(line) : nullptr;
        names.push_back(name != nullptr ? name : "");
    }
    if (!resolveGpioLines(config.lines, found.info, names, found.offsets, error)) {
        return false;
    }
    for (std::size_t i = 0; i < kGpioLineCount; ++i) {
        found.lines[i] = gpiod_chip_get_line(found.chip.get(), found.offsets[i]);
        if (found.lines[i] == nullptr) {
            error = "cannot read line " + std::to_string(found.offsets[i]) + " of " +
                    describeGpioChip(found.info) + ": " + systemReason(errno);
            return false;
        }
    }
    return true;
}

}  // namespace

std::unique_ptr<GpioPort> GpioPort::open(std::uint16_t address, const GpioConfig& config,
                                         std::string& error) {
    const std::string port = portLabel(address) + " (GPIO): ";
    FoundLines found;
    if (!findLines(config, found, error)) {
        error = port + error + "; nothing was written";
        return nullptr;
    }
    const std::string chipText = describeGpioChip(found.info);
    const std::string linesText = joinedTexts(config.lines);
    // The kernel refuses a line someone holds (EBUSY) without naming them; ask first.
    if (const std::string held = heldLines(found.lines, found.offsets); !held.empty()) {
        error = port + chipText + ": " + held +
                "; stop the program that holds it, or choose other lines; nothing was written";
        return nullptr;
    }
    gpiod_line_bulk bulk;
    gpiod_line_bulk_init(&bulk);
    for (gpiod_line* line : found.lines) {
        gpiod_line_bulk_add(&bulk, line);
    }
    const std::string consumer = "qtx port " + std::to_string(address);
    const int flags = config.activeLow ? GPIOD_LINE_REQUEST_FLAG_ACTIVE_LOW : 0;
    const int off[kGpioLineCount] = {};
    if (gpiod_line_request_bulk_output_flags(&bulk, consumer.c_str(), flags, off) < 0) {
        const int errnum = errno;
        // Taken in the instant since the look above: name who took it.
        const std::string held = errnum == EBUSY ? heldLines(found.lines, found.offsets) : "";
        error = port + chipText + ": cannot take lines " + linesText +
                " as outputs: " + (held.empty() ? systemReason(errnum) : held) +
                "; nothing was written";
        return nullptr;
    }
    return std::make_unique<GpioPort>(Requested{}, address, std::move(found.chip), chipText,
                                      found.lines, linesText);
}

GpioPort::GpioPort(Requested, std::uint16_t address, GpioChipHandle chip, std::string chipText,
                   const std::array<gpiod_line*, kGpioLineCount>& lines, std::string linesText)
    : m_address(address),
      m_chip(std::move(chip)),
      m_chipText(std::move(chipText)),
      m_lines(lines),
      m_linesText(std::move(linesText)) {}

GpioPort::~GpioPort() {
    gpiod_line_bulk bulk;
    gpiod_line_bulk_init(&bulk);
    for (gpiod_line* line : m_lines) {
        gpiod_line_bulk_add(&bulk, line);
    }
    gpiod_line_release_bulk(&bulk);  // the chip handle closes after this
}

bool GpioPort::write(std::uint8_t data, std::string& error) {
    gpiod_line_bulk bulk;
    gpiod_line_bulk_init(&bulk);
    int values[kGpioLineCount];
    for (std::size_t i = 0; i < kGpioLineCount; ++i) {
        gpiod_line_bulk_add(&bulk, m_lines[i]);
        values[i] = (data >> (7 - i)) & 1;  // lamp 1 = bit 7
    }
    // One call for all eight: the kernel sets them together, never half a byte.
    if (gpiod_line_set_value_bulk(&bulk, values) < 0) {
        error = portLabel(m_address) + " (GPIO): " + m_chipText + ": setting lines " + m_linesText +
                " failed: " + systemReason(errno);
        return false;
    }
    return true;
}

bool GpioPort::read(std::uint8_t& data, std::string& error) {
    gpiod_line_bulk bulk;
    gpiod_line_bulk_init(&bulk);
    for (gpiod_line* line : m_lines) {
        gpiod_line_bulk_add(&bulk, line);
    }
    int values[kGpioLineCount] = {};
    if (gpiod_line_get_value_bulk(&bulk, values) < 0) {
        error = portLabel(m_address) + " (GPIO): " + m_chipText + ": reading lines " + m_linesText +
                " failed: " + systemReason(errno);
        return false;
    }
    unsigned byte = 0;
    for (std::size_t i = 0; i < kGpioLineCount; ++i) {
        byte |= (values[i] != 0 ? 1u : 0u) << (7 - i);
    }
    data = static_cast<std::uint8_t>(byte);
    return true;
}

bool describeGpioPort(std::uint16_t address, const GpioConfig& config, std::string& text) {
    FoundLines found;
    std::string error;
    if (!findLines(config, found, error)) {
        text = portLabel(address) + " (GPIO): " + error;
        return false;
    }
    text = "chip " + describeGpioChip(found.info) + ", lines " + joinedTexts(config.lines) +
           (config.activeLow ? ", active-low" : ", active-high") + "\n";
    bool free = true;
    for (std::size_t i = 0; i < kGpioLineCount; ++i) {
        const std::string by = holder(found.lines[i]);
        free = free && (by.empty() || by == "\"qtx port " + std::to_string(address) + "\"");
        text += "  " + gpioLampLabel(i) + ": " + lineText(found.lines[i], found.offsets[i]) +
                (by.empty() ? ", free" : ", held by " + by) + "\n";
    }
    if (!free) {
        text += "Lines held by another program cannot be taken: stop it, or choose other lines\n";
    }
    text.pop_back();  // the caller ends the report's last line
    return free;
}

}  // namespace runlight::portio
