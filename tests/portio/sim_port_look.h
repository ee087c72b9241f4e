#pragma once

#include <string>

#include <gtest/gtest.h>

#include "result.h"
#include "sim_port.h"

namespace runlight::testing {

// For ASSERT_TRUE/EXPECT_TRUE: a failed call fails with its reason.
template <class T>
::testing::AssertionResult succeeded(const Result<T>& result) {
    if (result) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << result.error();
}

// The state as a reader sees it, failing the test if it cannot be read.
inline portio::SimPort::State stateOf(const portio::SimPort& port) {
    portio::SimPort::State state;
    std::string error;
    EXPECT_TRUE(port.look(state, error)) << error;
    return state;
}

}  // namespace runlight::testing
