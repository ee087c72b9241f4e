#pragma once

// One OLA client connection to olad on this machine, at a chosen RPC port:
// a TCP socket to 127.0.0.1:port, OLA's own OlaClient on it and the
// SelectServer that runs it. OLA's OlaClientWrapper does the same but only
// for olad's default port and hides why a connection failed; this one takes
// any port and keeps the system's reason. Used by a port's sender thread,
// portio-out --status (through the module's probe), the lamp monitor, the
// tests and the benchmark. Not thread-safe: everything but
// selectServer().Terminate() from one thread at a time.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "result.h"
#include "unique_fd.h"

namespace ola {
class DmxBuffer;
template <typename ReturnType>
class SingleUseCallback0;
namespace client {
class OlaClient;
}
namespace io {
class SelectServer;
}
namespace network {
class TCPSocket;
}
}  // namespace ola

namespace runlight::portio::ola_backend {

// "127.0.0.1:9010"
std::string oladdress(std::uint16_t rpcPort);

// The fix for olad not running, for messages: start it with "olad -f" or ...
std::string startOladHint();

// How long a connection to olad may take: an olad that is stopped or
// swamped lets its queue of new connections fill, and connect() would then
// wait for minutes.
constexpr int kConnectMs = 1000;

// connect() to 127.0.0.1:`rpcPort` within `timeoutMs`: an open (blocking)
// socket, or the reason ("Connection refused").
Result<UniqueFd> connectLoopback(std::uint16_t rpcPort, int timeoutMs = kConnectMs);

class OlaConnection {
public:
    // Connects (within `timeoutMs`) and sets up the client. On failure, why:
    // "cannot connect to olad on 127.0.0.1:9010: Connection refused; start
    // it with ...".
    static Result<std::unique_ptr<OlaConnection>> connect(std::uint16_t rpcPort,
                                                          int timeoutMs = kConnectMs);
    ~OlaConnection();
    OlaConnection(const OlaConnection&) = delete;
    OlaConnection& operator=(const OlaConnection&) = delete;

    ola::client::OlaClient& client() { return *m_client; }
    ola::io::SelectServer& selectServer() { return *m_selectServer; }

    // Runs the select server until `done()` is true, the connection closes,
    // or `timeoutMs` (ms) have passed. Returns done().
    bool runUntil(const std::function<bool()>& done, int timeoutMs);
    // True once olad has closed the connection.
    bool closed() const { return m_closed; }

    struct Connected {  // only connect() makes one
        explicit Connected() = default;
    };
    OlaConnection(Connected, UniqueFd socket);

private:
    void onClosed();

    std::unique_ptr<ola::io::SelectServer> m_selectServer;
    std::unique_ptr<ola::network::TCPSocket> m_socket;
    std::unique_ptr<ola::client::OlaClient> m_client;
    ola::SingleUseCallback0<void>* m_closeHandler = nullptr;  // run at most once, by the client
    bool m_closed = false;
};

}  // namespace runlight::portio::ola_backend
