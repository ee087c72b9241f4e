// GpioChip on libgpiod 1.6 (Debian 12, Raspberry Pi OS bookworm): lines are
// objects owned by their chip, requested together through a "bulk".

#include <gpiod.h>

#include <cerrno>

#include "gpio_chip.h"

namespace runlight::portio {
namespace {

using ChipHandle = GpiodOwned<gpiod_chip, gpiod_chip_close>;

// A bulk of `lines`; 1.6 has no other way to name several lines at once.
gpiod_line_bulk bulkOf(const std::vector<gpiod_line*>& lines) {
    gpiod_line_bulk bulk;
    gpiod_line_bulk_init(&bulk);
    for (gpiod_line* line : lines) {
        gpiod_line_bulk_add(&bulk, line);
    }
    return bulk;
}

class RequestV1 final : public GpioLineRequest {
public:
    explicit RequestV1(std::vector<gpiod_line*> lines) : m_lines(std::move(lines)) {}
    ~RequestV1() override {
        gpiod_line_bulk bulk = bulkOf(m_lines);
        gpiod_line_release_bulk(&bulk);
    }
    RequestV1(const RequestV1&) = delete;
    RequestV1& operator=(const RequestV1&) = delete;

    bool set(const std::vector<int>& values) override {
        if (values.size() != m_lines.size()) {
            errno = EINVAL;
            return false;
        }
        gpiod_line_bulk bulk = bulkOf(m_lines);
        std::vector<int> copy = values;  // 1.6 takes them as non-const
        return gpiod_line_set_value_bulk(&bulk, copy.data()) == 0;
    }
    bool get(std::vector<int>& values) override {
        gpiod_line_bulk bulk = bulkOf(m_lines);
        values.assign(m_lines.size(), 0);
        return gpiod_line_get_value_bulk(&bulk, values.data()) == 0;
    }

private:
    std::vector<gpiod_line*> m_lines;  // owned by the chip
};

class ChipV1 final : public GpioChip {
public:
    explicit ChipV1(gpiod_chip* chip) : m_chip(chip) {}

    std::string name() const override { return gpiod_chip_name(m_chip.get()); }
    std::string label() const override { return gpiod_chip_label(m_chip.get()); }
    unsigned lineCount() const override { return gpiod_chip_num_lines(m_chip.get()); }

    bool lineState(unsigned offset, GpioLineState& state) override {
        gpiod_line* line = gpiod_chip_get_line(m_chip.get(), offset);
        if (line == nullptr || gpiod_line_update(line) < 0) {
            return false;
        }
        const char* name = gpiod_line_name(line);
        const char* consumer = gpiod_line_consumer(line);
        state.name = name != nullptr ? name : "";
        state.used = gpiod_line_is_used(line);
        state.consumer = consumer != nullptr ? consumer : "";
        return true;
    }

    std::unique_ptr<GpioLineRequest> request(const std::vector<unsigned>& offsets,
                                             const std::string& consumer, bool activeLow) override {
        if (offsets.empty() || offsets.size() > GPIOD_LINE_BULK_MAX_LINES) {
            errno = EINVAL;
            return nullptr;
        }
        std::vector<gpiod_line*> lines;
        for (unsigned offset : offsets) {
            gpiod_line* line = gpiod_chip_get_line(m_chip.get(), offset);
            if (line == nullptr) {
                return nullptr;
            }
            lines.push_back(line);
        }
        gpiod_line_bulk bulk = bulkOf(lines);
        const std::vector<int> off(lines.size(), 0);
        const int flags = activeLow ? GPIOD_LINE_REQUEST_FLAG_ACTIVE_LOW : 0;
        if (gpiod_line_request_bulk_output_flags(&bulk, consumer.c_str(), flags, off.data()) < 0) {
            return nullptr;
        }
        return std::make_unique<RequestV1>(std::move(lines));
    }

private:
    ChipHandle m_chip;
};

}  // namespace

std::unique_ptr<GpioChip> GpioChip::open(const std::string& path) {
    gpiod_chip* chip = gpiod_chip_open(path.c_str());
    if (chip == nullptr) {
        return nullptr;
    }
    return std::make_unique<ChipV1>(chip);
}

}  // namespace runlight::portio
