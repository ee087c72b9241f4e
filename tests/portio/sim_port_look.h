#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

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
    const auto state = port.look();
    EXPECT_TRUE(succeeded(state));
    return state ? *state : portio::SimPort::State{};
}

// The port of `address` in `folder`; null, failing the test with the
// reason, if it cannot be opened.
inline std::unique_ptr<portio::SimPort> openedSim(std::uint16_t address,
                                                  const std::string& folder) {
    auto port = portio::SimPort::open(address, folder);
    EXPECT_TRUE(succeeded(port));
    return port ? std::move(*port) : nullptr;
}

}  // namespace runlight::testing
