#pragma once

// The recorder inside the tests' port library libtestport.so, reached through
// its own handle; the window's PortLibrary loads the same library by name.

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "dynamic_library.h"
#include "port_library.h"

namespace runlight::testing {

inline constexpr const char* kRecordingLibrary = "libtestport.so";

class TestPortRecorder {
public:
    TestPortRecorder() : m_library(open()) { call<void (*)()>("TestPort_Reset")(); }
    ~TestPortRecorder() { call<void (*)()>("TestPort_Reset")(); }
    TestPortRecorder(const TestPortRecorder&) = delete;
    TestPortRecorder& operator=(const TestPortRecorder&) = delete;

    // Every (port, byte) that PortOut was given, in order.
    std::vector<std::pair<int, int>> writes() {
        std::vector<std::pair<int, int>> seen;
        const int count = call<int (*)()>("TestPort_Count")();
        for (int i = 0; i < count; ++i) {
            seen.emplace_back(call<int (*)(int)>("TestPort_Port")(i),
                              call<int (*)(int)>("TestPort_Value")(i));
        }
        return seen;
    }
    // Every PortOut from now on fails with this report.
    void failWith(const char* report) { call<void (*)(const char*)>("TestPort_FailWith")(report); }

private:
    static DynamicLibrary open() {
        auto library = openPortLibrary(kRecordingLibrary);
        if (!library) {
            throw std::runtime_error(library.error());
        }
        return std::move(*library);
    }
    template <typename Fn>
    Fn call(const char* name) {
        auto function = m_library.function<Fn>(name);
        if (!function) {
            throw std::runtime_error(function.error());
        }
        return *function;
    }
    DynamicLibrary m_library;
};

}  // namespace runlight::testing
