#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "port_sink.h"

namespace runlight::testing {

// In-process port that remembers every (port, byte) and can be told to fail.
class RecordingPort final : public PortSink {
public:
    struct Write {
        std::int16_t port;
        std::uint8_t value;
    };

    void out(std::int16_t port, std::uint8_t value) override {
        if (failure) {
            throw PortError(*failure);
        }
        m_writes.push_back({port, value});
    }
    const std::vector<Write>& writes() const { return m_writes; }
    std::vector<int> values() const {
        std::vector<int> bytes;
        for (const auto& write : m_writes) {
            bytes.push_back(write.value);
        }
        return bytes;
    }

    std::optional<std::string> failure;  // when set, every write throws it

private:
    std::vector<Write> m_writes;
};

}  // namespace runlight::testing
