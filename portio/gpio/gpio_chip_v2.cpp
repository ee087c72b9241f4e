// GpioChip on libgpiod 2.x (Debian 13, Raspberry Pi OS trixie): a request
// is made from a line configuration (direction, level, active-low per line)
// and a request configuration (the consumer name), and is an object of its
// own that sets or reads the lines by their offsets.

#include <gpiod.h>

#include <cerrno>

#include "gpio_chip.h"

namespace runlight::portio {
namespace {

template <typename T, void (*Free)(T*)>
using Owned = GpiodOwned<T, Free>;

using ChipHandle = Owned<gpiod_chip, gpiod_chip_close>;
using ChipInfo = Owned<gpiod_chip_info, gpiod_chip_info_free>;
using LineInfo = Owned<gpiod_line_info, gpiod_line_info_free>;
using LineSettings = Owned<gpiod_line_settings, gpiod_line_settings_free>;
using LineConfig = Owned<gpiod_line_config, gpiod_line_config_free>;
using RequestConfig = Owned<gpiod_request_config, gpiod_request_config_free>;
using LineRequest = Owned<gpiod_line_request, gpiod_line_request_release>;

class RequestV2 final : public GpioLineRequest {
public:
    RequestV2(LineRequest request, std::vector<unsigned> offsets)
        : m_request(std::move(request)), m_offsets(std::move(offsets)) {}

    bool set(const std::vector<int>& values) override {
        if (values.size() != m_offsets.size()) {
            errno = EINVAL;
            return false;
        }
        std::vector<gpiod_line_value> levels;
        for (int value : values) {
            levels.push_back(value != 0 ? GPIOD_LINE_VALUE_ACTIVE : GPIOD_LINE_VALUE_INACTIVE);
        }
        // By offset, so the order of the values never depends on how the
        // library keeps the request's lines.
        return gpiod_line_request_set_values_subset(m_request.get(), m_offsets.size(),
                                                    m_offsets.data(), levels.data()) == 0;
    }
    bool get(std::vector<int>& values) override {
        std::vector<gpiod_line_value> levels(m_offsets.size(), GPIOD_LINE_VALUE_INACTIVE);
        if (gpiod_line_request_get_values_subset(m_request.get(), m_offsets.size(),
                                                 m_offsets.data(), levels.data()) < 0) {
            return false;
        }
        values.clear();
        for (gpiod_line_value level : levels) {
            values.push_back(level == GPIOD_LINE_VALUE_ACTIVE ? 1 : 0);
        }
        return true;
    }

private:
    LineRequest m_request;
    std::vector<unsigned> m_offsets;
};

class ChipV2 final : public GpioChip {
public:
    ChipV2(ChipHandle chip, std::string name, std::string label, unsigned lineCount)
        : m_chip(std::move(chip)),
          m_name(std::move(name)),
          m_label(std::move(label)),
          m_lineCount(lineCount) {}

    std::string name() const override { return m_name; }
    std::string label() const override { return m_label; }
    unsigned lineCount() const override { return m_lineCount; }

    bool lineState(unsigned offset, GpioLineState& state) override {
        const LineInfo info(gpiod_chip_get_line_info(m_chip.get(), offset));
        if (!info) {
            return false;
        }
        const char* name = gpiod_line_info_get_name(info.get());
        const char* consumer = gpiod_line_info_get_consumer(info.get());
        state.name = name != nullptr ? name : "";
        state.used = gpiod_line_info_is_used(info.get());
        state.consumer = consumer != nullptr ? consumer : "";
        return true;
    }

    std::unique_ptr<GpioLineRequest> request(const std::vector<unsigned>& offsets,
                                             const std::string& consumer, bool activeLow) override {
        const LineSettings settings(gpiod_line_settings_new());
        const LineConfig lineConfig(gpiod_line_config_new());
        const RequestConfig requestConfig(gpiod_request_config_new());
        if (!settings || !lineConfig || !requestConfig) {
            return nullptr;
        }
        if (gpiod_line_settings_set_direction(settings.get(), GPIOD_LINE_DIRECTION_OUTPUT) < 0 ||
            gpiod_line_settings_set_output_value(settings.get(), GPIOD_LINE_VALUE_INACTIVE) < 0) {
            return nullptr;
        }
        gpiod_line_settings_set_active_low(settings.get(), activeLow);
        // The same settings for every line, all in one request.
        if (gpiod_line_config_add_line_settings(lineConfig.get(), offsets.data(), offsets.size(),
                                                settings.get()) < 0) {
            return nullptr;
        }
        gpiod_request_config_set_consumer(requestConfig.get(), consumer.c_str());
        LineRequest request(
            gpiod_chip_request_lines(m_chip.get(), requestConfig.get(), lineConfig.get()));
        if (!request) {
            return nullptr;
        }
        return std::make_unique<RequestV2>(std::move(request), offsets);
    }

private:
    ChipHandle m_chip;
    std::string m_name;
    std::string m_label;
    unsigned m_lineCount;
};

}  // namespace

std::unique_ptr<GpioChip> GpioChip::open(const std::string& path) {
    ChipHandle chip(gpiod_chip_open(path.c_str()));
    if (!chip) {
        return nullptr;
    }
    const ChipInfo info(gpiod_chip_get_info(chip.get()));
    if (!info) {
        return nullptr;
    }
    const char* name = gpiod_chip_info_get_name(info.get());
    const char* label = gpiod_chip_info_get_label(info.get());
    return std::make_unique<ChipV2>(
        std::move(chip), name != nullptr ? name : "", label != nullptr ? label : "",
        static_cast<unsigned>(gpiod_chip_info_get_num_lines(info.get())));
}

}  // namespace runlight::portio
