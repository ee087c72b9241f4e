#pragma once

#include <string>

#include <gtest/gtest.h>

#include "sim_port.h"

namespace runlight::testing {

// The state as a reader sees it, failing the test if it cannot be read.
inline portio::SimPort::State stateOf(const portio::SimPort& port) {
    portio::SimPort::State state;
    std::string error;
    EXPECT_TRUE(port.look(state, error)) << error;
    return state;
}

}  // namespace runlight::testing
