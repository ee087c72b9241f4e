#include "ola_connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include <ola/Callback.h>
#include <ola/Clock.h>
#include <ola/client/OlaClient.h>
#include <ola/io/SelectServer.h>
#include <ola/network/TCPSocket.h>

namespace runlight::portio::ola_backend {

std::string oladdress(std::uint16_t rpcPort) {
    return "127.0.0.1:" + std::to_string(rpcPort);
}

std::string startOladHint() {
    return "start it with \"olad -f\" or \"sudo systemctl start olad\"";
}

Result<UniqueFd> connectLoopback(std::uint16_t rpcPort, int timeoutMs) {
    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket) {
        return fail(std::strerror(errno));
    }
    const int fd = socket.get();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(rpcPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int error = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            pollfd wait{fd, POLLOUT, 0};
            int ready = 0;
            do {
                ready = ::poll(&wait, 1, timeoutMs);
            } while (ready < 0 && errno == EINTR);
            socklen_t size = sizeof error;
            if (ready == 0) {
                error = ETIMEDOUT;
            } else if (ready < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
                error = errno;
            }
        }
    }
    if (error != 0) {
        return fail(error == ETIMEDOUT ? "no answer within " + std::to_string(timeoutMs) +
                                             " ms (olad is stopped or swamped)"
                                       : std::strerror(error));
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);  // OLA's client expects blocking
    return socket;
}

Result<std::unique_ptr<OlaConnection>> OlaConnection::connect(std::uint16_t rpcPort,
                                                              int timeoutMs) {
    auto socket = connectLoopback(rpcPort, timeoutMs);
    if (!socket) {
        return fail("cannot connect to olad on " + oladdress(rpcPort) + ": " + socket.error() +
                    "; " + startOladHint());
    }
    auto connection = std::make_unique<OlaConnection>(Connected{}, std::move(*socket));
    if (!connection->m_client->Setup()) {
        return fail("olad on " + oladdress(rpcPort) + " accepted the connection but the client " +
                    "could not be set up");
    }
    connection->m_closeHandler = ola::NewSingleCallback(connection.get(), &OlaConnection::onClosed);
    connection->m_client->SetCloseHandler(connection->m_closeHandler);
    return connection;
}

OlaConnection::OlaConnection(Connected, UniqueFd socket)
    : m_selectServer(std::make_unique<ola::io::SelectServer>()),
      m_socket(std::make_unique<ola::network::TCPSocket>(socket.release())),  // its owner now
      m_client(std::make_unique<ola::client::OlaClient>(m_socket.get())) {
    m_socket->SetNoDelay();
    m_selectServer->AddReadDescriptor(m_socket.get());
}

void OlaConnection::onClosed() {
    m_closed = true;  // the handler deletes itself after this call
    m_selectServer->Terminate();
}

OlaConnection::~OlaConnection() {
    if (!m_closed) {
        // A close handler that never ran is ours to free: the client keeps
        // only the pointer (the sanitizer build saw it leak). Taken back
        // while the client still has its channel.
        m_client->SetCloseHandler(nullptr);
        delete m_closeHandler;
        m_selectServer->RemoveReadDescriptor(m_socket.get());
        m_client->Stop();
    }
}

bool OlaConnection::runUntil(const std::function<bool()>& done, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done() && !m_closed && Clock::now() < deadline) {
        m_selectServer->RunOnce(ola::TimeInterval(0, 10000));  // 10 ms slices
    }
    return done();
}

}  // namespace runlight::portio::ola_backend
