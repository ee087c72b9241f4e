#include "step_timing_wire.h"

#include <algorithm>
#include <cstdio>

#include "e131_wire.h"

namespace runlight::bench {

struct OlaWire::Capture {
    explicit Capture(std::function<void(const testing::E131Frame&)> seen)
        : capture(std::move(seen)) {}
    testing::E131Capture capture;
};

std::string OlaWire::enterNamespace() {
    return testing::enterWireNamespace();
}

const char* OlaWire::oladAddress() {
    return testing::kE131Ip;
}

OlaWire::OlaWire(Seen seen)
    : m_capture(std::make_unique<Capture>([seen](const testing::E131Frame& frame) {
          if (frame.universe == 1) {
              Channels channels{};
              std::copy_n(frame.slots.begin(), channels.size(), channels.begin());
              seen(channels, frame.at);
          }
      })) {}

OlaWire::~OlaWire() = default;

std::string OlaWire::error() const {
    return m_capture->capture.error();
}

std::string OlaWire::figures() const {
    const auto frames = m_capture->capture.frames(1);
    std::size_t lost = 0;
    std::size_t reversed = 0;
    std::size_t repeats = 0;
    for (std::size_t i = 1; i < frames.size(); ++i) {
        // Sequence numbers count up by one a packet, modulo 256; a step back
        // of less than 20 is a reordering (E1.31's own rule), more is a gap.
        const int step = (frames[i].sequence - frames[i - 1].sequence + 256) % 256;
        if (step == 0 || step > 256 - 20) {
            ++reversed;
        } else if (step > 1) {
            lost += static_cast<std::size_t>(step - 1);
        }
        repeats += frames[i].slots == frames[i - 1].slots ? 1 : 0;
    }
    char text[256];
    std::snprintf(text, sizeof text,
                  "on the wire: %zu E1.31 packets of universe 1, %zu lost and %zu out of order "
                  "(sequence numbers), %zu the same as the packet before (keep-alive)",
                  frames.size(), lost, reversed, repeats);
    return text;
}

}  // namespace runlight::bench
