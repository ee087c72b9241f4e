#include "ola_port.h"

#include <cstdio>

#include <ola/Callback.h>
#include <ola/Clock.h>
#include <ola/DmxBuffer.h>
#include <ola/client/ClientArgs.h>
#include <ola/client/ClientTypes.h>
#include <ola/client/OlaClient.h>
#include <ola/client/Result.h>
#include <ola/io/SelectServer.h>

#include "ola_connection.h"

namespace runlight::portio::ola_backend {

std::string olaPortLabel(const OlaPortOptions& options) {
    char text[96];
    std::snprintf(text, sizeof text, "port %u (0x%X), OLA universe %u",
                  static_cast<unsigned>(options.address), static_cast<unsigned>(options.address),
                  options.universe);
    return text;
}

void placeByte(std::uint8_t data, unsigned channel, std::uint8_t level, ola::DmxBuffer& frame) {
    for (unsigned bit = 0; bit < 8; ++bit) {
        const bool on = (data & (0x80U >> bit)) != 0;
        frame.SetChannel(channel - 1 + bit, on ? level : 0);
    }
}

std::unique_ptr<OlaPort> OlaPort::open(const OlaPortOptions& options, std::string& error) {
    // Never starts olad: that is the user's choice.
    auto connection = OlaConnection::connect(options.rpcPort, error);
    if (!connection) {
        error = olaPortLabel(options) + ": " + error;
        return nullptr;
    }
    return std::make_unique<OlaPort>(Connected{}, options, std::move(connection));
}

OlaPort::OlaPort(Connected, const OlaPortOptions& options,
                 std::unique_ptr<OlaConnection> connection)
    : m_options(options),
      m_connection(std::move(connection)),
      m_frame(std::make_unique<ola::DmxBuffer>()) {
    m_frame->Blackout();  // 512 slots, all 0
}

namespace {
struct Answer {
    bool answered = false;
    void take(const ola::client::Result& /*result*/) { answered = true; }
};
}  // namespace

OlaPort::~OlaPort() {
    if (m_connection->closed()) {
        return;
    }
    // The last frame once more, as a request olad answers: once it has, it
    // has taken every frame sent before it on this connection.
    Answer answer;
    m_connection->client().SendDMX(
        m_options.universe, *m_frame,
        ola::client::SendDMXArgs(ola::NewSingleCallback(&answer, &Answer::take)));
    m_connection->runUntil([&answer] { return answer.answered; }, kFlushMs);
}

bool OlaPort::write(std::uint8_t data, std::string& error) {
    // A look at the socket without waiting: has olad closed the connection?
    m_connection->selectServer().RunOnce(ola::TimeInterval(0, 0));
    if (!m_connection->closed()) {
        placeByte(data, m_options.channel, m_options.level, *m_frame);
        // No callback: streamed, never answered, never waited for.
        m_connection->client().SendDMX(m_options.universe, *m_frame, ola::client::SendDMXArgs());
    }
    if (m_connection->closed()) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned>(data));
        error = olaPortLabel(m_options) + ": olad on " + oladdress(m_options.rpcPort) +
                " closed the connection (it stopped or was restarted); " + byte +
                " was not sent; " + startOladHint() + ", and the next write connects afresh";
        return false;
    }
    return true;
}

namespace {
struct Held {
    bool answered = false;
    bool ok = false;
    std::string error;
    ola::DmxBuffer frame;
    void take(const ola::client::Result& result, const ola::client::DMXMetadata& /*metadata*/,
              const ola::DmxBuffer& data) {
        answered = true;
        ok = result.Success();
        error = result.Error();
        frame = data;
    }
};
}  // namespace

bool OlaPort::read(std::uint8_t& data, std::string& error) {
    Held held;
    m_connection->client().FetchDMX(m_options.universe, ola::NewSingleCallback(&held, &Held::take));
    if (!m_connection->runUntil([&held] { return held.answered; }, kFlushMs) || !held.ok) {
        error = olaPortLabel(m_options) + ": olad on " + oladdress(m_options.rpcPort) +
                (held.answered ? " could not say what the universe holds: " + held.error
                               : " did not answer");
        return false;
    }
    data = 0;
    for (unsigned bit = 0; bit < 8; ++bit) {
        if (held.frame.Get(m_options.channel - 1 + bit) > 0) {
            data = static_cast<std::uint8_t>(data | (0x80U >> bit));
        }
    }
    return true;
}

}  // namespace runlight::portio::ola_backend
