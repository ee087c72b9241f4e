#pragma once

// step_timing --ola-wire: the --ola run with olad's real E1.31 (sACN) output
// instead of its Dummy one, in a network namespace of the run's own (as
// root: unshare -n), and the steps taken from the packets on the wire (a raw
// socket on the other end of a veth pair) instead of from a second OLA
// client. Nothing leaves the machine.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace runlight::bench {

class OlaWire {
public:
    using Channels = std::array<std::uint8_t, 8>;
    using Seen = std::function<void(const Channels&, std::chrono::steady_clock::time_point)>;

    // Moves the process into a network namespace of its own with the veth
    // pair. First thing in main(), before any thread. "" or why not.
    static std::string enterNamespace();
    // olad's E1.31 plugin is to use this address.
    static const char* oladAddress();

    // Reads the packets of universe 1; `seen` gets the first eight slots of
    // each, on the reading thread. error() says why not.
    explicit OlaWire(Seen seen);
    ~OlaWire();
    OlaWire(const OlaWire&) = delete;
    OlaWire& operator=(const OlaWire&) = delete;
    std::string error() const;

    // The wire's own figures so far: packets, gaps and reversals of the
    // E1.31 sequence numbers (packets lost or out of order between olad and
    // the wire), keep-alive packets (a frame the same as the one before).
    std::string figures() const;

private:
    struct Capture;
    std::unique_ptr<Capture> m_capture;
};

}  // namespace runlight::bench
