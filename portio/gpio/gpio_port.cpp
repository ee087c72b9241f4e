#include "gpio_port.h"

#include <grp.h>
#include <sys/stat.h>
#include <filesystem>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

namespace runlight::portio {

namespace {

constexpr const char* kDevFolder = "/dev";

// The chips under /dev, in their numbers' order, each opened if it can be.
struct FoundChips {
    std::vector<GpioChipInfo> info;
    std::vector<std::unique_ptr<GpioChip>> handles;  // null where info's openError is set
};

GpioChipInfo chipInfo(const GpioChip& chip, std::string path) {
    GpioChipInfo info;
    info.name = chip.name();
    info.path = std::move(path);
    info.label = chip.label();
    info.lineCount = chip.lineCount();
    return info;
}

unsigned long chipNumber(const std::string& name) {
    return std::strtoul(name.c_str() + std::char_traits<char>::length("gpiochip"), nullptr, 10);
}

FoundChips findChips() {
    std::vector<std::string> names;
    std::error_code unreadable;  // no /dev/gpiochip* to be seen: no chips
    for (std::filesystem::directory_iterator entry(kDevFolder, unreadable), end;
         !unreadable && entry != end; entry.increment(unreadable)) {
        const std::string name = entry->path().filename().string();
        if (name.rfind("gpiochip", 0) == 0 && name.size() > 8) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return chipNumber(a) < chipNumber(b);
    });
    FoundChips found;
    for (const std::string& name : names) {
        const std::string path = std::string(kDevFolder) + "/" + name;
        std::unique_ptr<GpioChip> chip = GpioChip::open(path);
        if (chip) {
            found.info.push_back(chipInfo(*chip, path));
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

// The chip and the eight lines of `config`, found but not requested.
struct FoundLines {
    std::unique_ptr<GpioChip> chip;
    GpioChipInfo info;
    GpioOffsets offsets{};
};

// The chip `wanted` names, opened, with its info; no lines yet.
Result<FoundLines> openChip(const std::string& wanted) {
    FoundChips found = findChips();
    const auto index = findGpioChip(wanted, found.info);
    if (index) {
        const GpioChipInfo& info = found.info[*index];
        if (info.openError != 0) {
            return fail(openError(info.path, info.openError));
        }
        return FoundLines{std::move(found.handles[*index]), info};
    }
    // A path of its own (a udev symlink such as /dev/gpio/relays) is not
    // among the chips listed: open it as it is.
    if (!wanted.empty() && wanted.front() == '/') {
        std::unique_ptr<GpioChip> chip = GpioChip::open(wanted);
        if (chip) {
            const GpioChipInfo info = chipInfo(*chip, wanted);
            return FoundLines{std::move(chip), info};
        }
        if (errno != ENOENT) {
            return fail(openError(wanted, errno));
        }
    }
    std::string error =
        index.error() + (found.info.empty()
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
    return fail(error);
}

std::string joinedTexts(const GpioLineRefs& lines) {
    std::string text;
    for (const GpioLineRef& line : lines) {
        text += (text.empty() ? "" : " ") + line.text;
    }
    return text;
}

// Line `offset` of `chip` as the kernel reports it now; unnamed and free
// when that cannot be read (the request then says what is wrong).
GpioLineState lineState(GpioChip& chip, unsigned offset) {
    GpioLineState state;
    if (!chip.lineState(offset, state)) {
        state = GpioLineState{};
    }
    return state;
}

std::string lineText(const GpioLineState& line, unsigned offset) {
    return "line " + std::to_string(offset) + (line.name.empty() ? "" : " \"" + line.name + "\"");
}

// Who holds `line`: "" when nobody does.
std::string holder(const GpioLineState& line) {
    if (!line.used) {
        return {};
    }
    return !line.consumer.empty()
               ? "\"" + line.consumer + "\""
               : "the kernel (no consumer name: a driver or another function of the pin)";
}

// "line 3 "relay4" (lamp 5 (D3)) is held by "other"; ..." for every held line.
// Reads the kernel's info afresh.
std::string heldLines(GpioChip& chip, const GpioOffsets& offsets) {
    std::string text;
    for (std::size_t i = 0; i < kGpioLineCount; ++i) {
        const GpioLineState line = lineState(chip, offsets[i]);
        const std::string by = holder(line);
        if (!by.empty()) {
            text += (text.empty() ? "" : "; ") + lineText(line, offsets[i]) + " (" +
                    gpioLampLabel(i) + ") is held by " + by;
        }
    }
    return text;
}

Result<FoundLines> findLines(const GpioConfig& config) {
    auto opened = openChip(config.chip);
    if (!opened) {
        return opened;
    }
    FoundLines& found = *opened;
    std::vector<std::string> names;
    const bool byName = std::any_of(config.lines.begin(), config.lines.end(),
                                    [](const GpioLineRef& line) { return !line.offset; });
    for (unsigned offset = 0; byName && offset < found.info.lineCount; ++offset) {
        names.push_back(lineState(*found.chip, offset).name);
    }
    const auto offsets = resolveGpioLines(config.lines, found.info, names);
    if (!offsets) {
        return fail(offsets.error());
    }
    found.offsets = *offsets;
    for (std::size_t i = 0; i < kGpioLineCount; ++i) {
        GpioLineState state;
        if (!found.chip->lineState(found.offsets[i], state)) {
            return fail("cannot read line " + std::to_string(found.offsets[i]) + " of " +
                        describeGpioChip(found.info) + ": " + systemReason(errno));
        }
    }
    return opened;
}

}  // namespace

std::string gpioLabel(std::uint16_t address) {
    return portLabel(address) + " (GPIO)";
}

Result<std::unique_ptr<GpioPort>> GpioPort::open(std::uint16_t address, const GpioConfig& config) {
    auto lookedUp = findLines(config);
    if (!lookedUp) {
        return fail(lookedUp.error() + "; nothing was written");
    }
    FoundLines& found = *lookedUp;
    const std::string chipText = describeGpioChip(found.info);
    const std::string linesText = joinedTexts(config.lines);
    // The kernel refuses a line someone holds (EBUSY) without naming them; ask first.
    if (const std::string held = heldLines(*found.chip, found.offsets); !held.empty()) {
        return fail(chipText + ": " + held +
                    "; stop the program that holds it, or choose other lines; nothing was written");
    }
    const std::string consumer = "qtx port " + std::to_string(address);
    // All eight in one request, off at first, each active-low if so set.
    std::unique_ptr<GpioLineRequest> lines =
        found.chip->request(std::vector<unsigned>(found.offsets.begin(), found.offsets.end()),
                            consumer, config.activeLow);
    if (!lines) {
        const int errnum = errno;
        // Taken in the instant since the look above: name who took it.
        const std::string held = errnum == EBUSY ? heldLines(*found.chip, found.offsets) : "";
        return fail(chipText + ": cannot take lines " + linesText + " as outputs: " +
                    (held.empty() ? systemReason(errnum) : held) + "; nothing was written");
    }
    return std::make_unique<GpioPort>(Requested{}, address, std::move(found.chip), chipText,
                                      std::move(lines), linesText);
}

GpioPort::GpioPort(Requested, std::uint16_t address, std::unique_ptr<GpioChip> chip,
                   std::string chipText, std::unique_ptr<GpioLineRequest> lines,
                   std::string linesText)
    : m_address(address),
      m_chip(std::move(chip)),
      m_chipText(std::move(chipText)),
      m_lines(std::move(lines)),
      m_linesText(std::move(linesText)) {}

GpioPort::~GpioPort() {
    m_lines.reset();  // the lines go back before the chip closes
}

Result<void> GpioPort::write(std::uint8_t data) {
    std::vector<int> values(kGpioLineCount);
    for (std::size_t i = 0; i < kGpioLineCount; ++i) {
        values[i] = (data >> (7 - i)) & 1;  // lamp 1 = bit 7
    }
    // One call for all eight: the kernel sets them together, never half a byte.
    if (!m_lines->set(values)) {
        return fail(m_chipText + ": setting lines " + m_linesText +
                    " failed: " + systemReason(errno));
    }
    return {};
}

Result<std::uint8_t> GpioPort::read() {
    std::vector<int> values;
    if (!m_lines->get(values) || values.size() != kGpioLineCount) {
        return fail(m_chipText + ": reading lines " + m_linesText +
                    " failed: " + systemReason(errno));
    }
    unsigned byte = 0;
    for (std::size_t i = 0; i < kGpioLineCount; ++i) {
        byte |= (values[i] != 0 ? 1u : 0u) << (7 - i);
    }
    return static_cast<std::uint8_t>(byte);
}

std::string GpioPort::label() const {
    return gpioLabel(m_address);
}

bool describeGpioPort(std::uint16_t address, const GpioConfig& config, std::string& text) {
    auto lookedUp = findLines(config);
    if (!lookedUp) {
        text = gpioLabel(address) + ": " + lookedUp.error();
        return false;
    }
    const FoundLines& found = *lookedUp;
    text = "chip " + describeGpioChip(found.info) + ", lines " + joinedTexts(config.lines) +
           (config.activeLow ? ", active-low" : ", active-high") + "\n";
    bool free = true;
    for (std::size_t i = 0; i < kGpioLineCount; ++i) {
        const GpioLineState line = lineState(*found.chip, found.offsets[i]);
        const std::string by = holder(line);
        free = free && (by.empty() || by == "\"qtx port " + std::to_string(address) + "\"");
        text += "  " + gpioLampLabel(i) + ": " + lineText(line, found.offsets[i]) +
                (by.empty() ? ", free" : ", held by " + by) + "\n";
    }
    if (!free) {
        text += "Lines held by another program cannot be taken: stop it, or choose other lines\n";
    }
    text.pop_back();  // the caller ends the report's last line
    return free;
}

}  // namespace runlight::portio
