#pragma once

// The OLA back end of one port: the port's byte as eight DMX channels of an
// OLA universe, sent to olad on this machine with OLA's own client library.
//
// Frames go out as OLA's streaming clients send them (StreamDmxData: queued
// on the socket, no answer awaited), so a write never waits for olad. OLA's
// StreamingClient does the same but cannot tell when olad has taken what it
// sent, and olad (with epoll, its default) drops what arrives together with
// the connection's close: a program that writes and ends at once
// (portio-out 0xFF) would light nothing. So this uses OlaClient, which sends
// the same way, and at closing asks olad one question on the same connection
// and waits (at most kFlushMs) for the answer, by which olad has taken every
// frame before it.

#include <cstdint>
#include <memory>
#include <string>

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
};

// "port 888 (0x378), OLA universe 1": how every message names the port.
std::string olaPortLabel(const OlaPortOptions& options);

// Puts `data` into `frame` (512 slots): bit 7 (lamp 1) on `channel`, bit 0 on
// `channel` + 7 (channels 1-based), `level` for a set bit, 0 for a clear one.
// No other slot changes.
void placeByte(std::uint8_t data, unsigned channel, std::uint8_t level, ola::DmxBuffer& frame);

class OlaConnection;

class OlaPort {
public:
    static constexpr int kFlushMs = 500;

    // Connects to olad. Null with `error` naming the port, the universe,
    // olad's address, the system's reason and the fix. Never starts olad.
    static std::unique_ptr<OlaPort> open(const OlaPortOptions& options, std::string& error);
    ~OlaPort();
    OlaPort(const OlaPort&) = delete;
    OlaPort& operator=(const OlaPort&) = delete;

    // Sends the whole frame the port keeps, with its eight channels set from
    // `data`, without waiting for olad. False with `error` once olad has
    // closed the connection (it was stopped or restarted): the byte was not
    // sent, and this OlaPort is done; a new one connects afresh.
    bool write(std::uint8_t data, std::string& error);
    // The port's eight channels as olad holds them now (every source merged),
    // as a byte: a bit is set where its channel is above 0. Asks olad and
    // waits for the answer (at most kFlushMs): for PortIn, never on a step's
    // path. False with `error` when olad does not answer.
    bool read(std::uint8_t& data, std::string& error);

    struct Connected {  // only open() makes one
        explicit Connected() = default;
    };
    OlaPort(Connected, const OlaPortOptions& options, std::unique_ptr<OlaConnection> connection);

private:
    OlaPortOptions m_options;
    std::unique_ptr<OlaConnection> m_connection;
    std::unique_ptr<ola::DmxBuffer> m_frame;
};

}  // namespace runlight::portio::ola_backend
