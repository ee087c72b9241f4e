#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

#include "port_sink.h"

namespace runlight::bench {

// Takes every byte and keeps only the last, so the port costs nothing and
// holds no memory however many iterations run.
class DiscardingPort final : public PortSink {
public:
    void out(std::int16_t /*port*/, std::uint8_t value) override {
        m_last = value;
        benchmark::DoNotOptimize(m_last);
    }

private:
    std::uint8_t m_last = 0;
};

}  // namespace runlight::bench
