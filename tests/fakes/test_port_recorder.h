#pragma once

// The recorder inside the tests' port library libtestport.so, reached through
// its own handle; the window's PortLibrary loads the same library by name.

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "dynamic_library.h"

namespace runlight::testing {

inline constexpr const char* kRecordingLibrary = "libtestport.so";

class TestPortRecorder {
public:
    TestPortRecorder() {
        std::string error;
        m_handle = dynlib::open(kRecordingLibrary, error);
        if (m_handle == nullptr) {
            throw std::runtime_error(error);
        }
        call<void (*)()>("TestPort_Reset")();
    }
    ~TestPortRecorder() {
        call<void (*)()>("TestPort_Reset")();
        dynlib::close(m_handle);
    }
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
    template <typename Fn>
    Fn call(const char* name) {
        std::string error;
        void* address = dynlib::symbol(m_handle, name, error);
        if (address == nullptr) {
            throw std::runtime_error(error);
        }
        return reinterpret_cast<Fn>(address);
    }
    void* m_handle = nullptr;
};

}  // namespace runlight::testing
