#include "ola_port.h"

#include <unistd.h>

#include <cstdio>

#include <ola/DmxBuffer.h>
#include <ola/client/StreamingClient.h>

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
    ola::client::StreamingClient::Options clientOptions;
    clientOptions.auto_start = false;  // starting olad is the user's choice, never ours
    clientOptions.server_port = options.rpcPort;
    auto client = std::make_unique<ola::client::StreamingClient>(clientOptions);
    if (!client->Setup()) {
        // The client does not say why; a plain connect to the same place does.
        std::string reason = "olad did not take the connection";
        const int probe = connectLoopback(options.rpcPort, reason);
        if (probe >= 0) {
            ::close(probe);
        }
        error = olaPortLabel(options) + ": cannot connect to olad on " +
                oladdress(options.rpcPort) + ": " + reason + "; " + startOladHint();
        return nullptr;
    }
    return std::make_unique<OlaPort>(Connected{}, options, std::move(client));
}

OlaPort::OlaPort(Connected, const OlaPortOptions& options,
                 std::unique_ptr<ola::client::StreamingClient> client)
    : m_options(options), m_client(std::move(client)), m_frame(std::make_unique<ola::DmxBuffer>()) {
    m_frame->Blackout();  // 512 slots, all 0
}

OlaPort::~OlaPort() {
    m_client->Stop();
}

bool OlaPort::write(std::uint8_t data, std::string& error) {
    placeByte(data, m_options.channel, m_options.level, *m_frame);
    // SendDmx first looks, without blocking, whether olad has closed the
    // connection, then queues the frame on the socket; it never waits for olad.
    if (!m_client->SendDmx(m_options.universe, *m_frame)) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned>(data));
        error = olaPortLabel(m_options) + ": olad on " + oladdress(m_options.rpcPort) +
                " closed the connection (it stopped or was restarted); " + byte +
                " was not sent; " + startOladHint() + ", and the next write connects afresh";
        return false;
    }
    m_lastByte = data;
    return true;
}

}  // namespace runlight::portio::ola_backend
