#pragma once

// The OLA back end of one port: the port's byte as eight DMX channels of an
// OLA universe, sent to olad on this machine with OLA's own client library.
//
// One sender thread per port owns the connection to olad; a write only
// leaves the byte in a short queue and wakes it, so a write never waits for
// olad. The thread sends each frame as a request olad answers, with at most
// kInFlight unanswered: a frame olad is not taking is never queued without
// end (with kQueued waiting, the latest byte replaces the last unsent one),
// and when olad has answered nothing for kStallMs the next write fails.
// OLA sends a frame on its outputs only when a client sends one, and an
// sACN receiver takes 2.5 s of silence for a lost source (Art-Net nodes
// 4 s): while nothing is written the thread sends the last frame again
// every keepAliveMs. It also asks olad about the universe at connecting and
// every kUniverseCheckMs (OLA's client hears of no patch change), so that a
// write to a universe no output port takes fails without a round trip of
// its own. Closing waits (at most kFlushMs) until olad has answered
// every frame: olad (with epoll, its default) drops what arrives together
// with a connection's close, and a program that writes and ends at once
// (portio-out 0xFF) would light nothing.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "result.h"

namespace ola {
class DmxBuffer;
}  // namespace ola

namespace runlight::portio::ola_backend {

struct OlaPortOptions {
    std::uint16_t address = 888;   // the port, for messages
    unsigned universe = 1;         // OLA universe
    unsigned channel = 1;          // first of the eight channels, 1..505
    std::uint8_t level = 255;      // a set bit's level, 1..255; a clear bit sends 0
    std::uint16_t rpcPort = 9010;  // olad's RPC port on 127.0.0.1
    unsigned keepAliveMs = 1000;   // the last frame again after this long without one; 0 = never
};

// What olad says of a universe.
struct UniverseInfo {
    bool exists = false;
    std::string name;
    unsigned outputPorts = 0;
    bool ltp = false;  // merge mode LTP
};

// Why nothing of the port reaches a lamp, for --status and a failed write:
// "olad answers on 127.0.0.1:9010, but universe 2 has no output port, so
// nothing reaches a lamp; patch an output port to it: ..."; "" when the
// universe has an output port.
std::string universeProblem(const OlaPortOptions& options, const UniverseInfo& universe);

// "port 888 (0x378), OLA universe 1": how every message names the port.
std::string olaPortLabel(const OlaPortOptions& options);

// Puts `data` into `frame` (512 slots): bit 7 (lamp 1) on `channel`, bit 0 on
// `channel` + 7 (channels 1-based), `level` for a set bit, 0 for a clear one.
// No other slot changes.
void placeByte(std::uint8_t data, unsigned channel, std::uint8_t level, ola::DmxBuffer& frame);

class OlaConnection;

class OlaPort {
public:
    static constexpr int kFlushMs = 500;           // closing: olad's answer to the last frame
    static constexpr int kStallMs = 1000;          // olad answering nothing this long fails
    static constexpr int kUniverseCheckMs = 3000;  // how often olad is asked about the universe
    static constexpr int kInFlight = 4;            // frames sent and not answered yet, at most
    static constexpr std::size_t kQueued = 64;     // frames written and not sent yet, at most
    static constexpr int kOpenMs = 1000;           // connecting and olad's first answer, at most
    // After olad did not answer: a new port tries it once every
    // kRetryEveryMs, waiting kRetryOpenMs at most; other writes fail at once.
    static constexpr int kRetryEveryMs = 1000;
    static constexpr int kRetryOpenMs = 100;

    // Connects to olad and learns whether the universe has an output port,
    // within kOpenMs (see kRetryEveryMs). On failure, the reason naming
    // olad's address and the fix; the port and universe are the caller's to
    // name (olaPortLabel), here and below. Never starts olad.
    static Result<std::unique_ptr<OlaPort>> open(const OlaPortOptions& options);
    ~OlaPort();
    OlaPort(const OlaPort&) = delete;
    OlaPort& operator=(const OlaPort&) = delete;

    // Hands the byte to the sender (its eight channels in the frame the port
    // keeps) without waiting for olad. Fails when olad closed the
    // connection, has taken nothing for kStallMs, or the universe has no
    // output port: the byte was not sent, and this OlaPort is done; a new
    // one connects afresh.
    Result<void> write(std::uint8_t data);
    // The port's eight channels as olad holds them now (every source merged),
    // as a byte: a bit is set where its channel is above 0. Asks olad and
    // waits for the answer (at most kFlushMs): for PortIn, never on a step's
    // path. Fails when olad does not answer.
    Result<std::uint8_t> read();
    // olaPortLabel() of the options it was opened with.
    const std::string& label() const { return m_label; }

    class Sender;
    OlaPort(std::unique_ptr<Sender> sender, std::string label);

private:
    std::unique_ptr<Sender> m_sender;
    std::string m_label;
};

}  // namespace runlight::portio::ola_backend
