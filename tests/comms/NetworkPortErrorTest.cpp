// Why a network serial port does not open, in the words the user sees, against real sockets on
// 127.0.0.1.

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "comms/AutoReconnectSerialComms.h"
#include "comms/SerialCommsThread.h"
#include "tests/support/NetworkSerialServer.h"

namespace {

// A listening socket on 127.0.0.1 that never accepts: the kernel completes as many connections
// as its backlog holds, then lets further ones wait unanswered.
class Listener
{
public:
    explicit Listener(int backlog)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(m_fd, backlog) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot listen");
        m_port = ntohs(address.sin_port);
    }
    ~Listener() { ::close(m_fd); }
    int Port() const { return m_port; }
    int Fd() const { return m_fd; }

private:
    int m_fd = -1;
    int m_port = 0;
};

std::string NetworkOpenError(const std::string& url)
{
    ::setenv("TOLVAREN_EXTRA_SERIAL_PORTS", url.c_str(), 1);
    SerialPortSettings settings;
    settings.port = 300;
    try {
        SerialCommsThread port(settings, nullptr);
        return "opened";
    } catch (const SerialCommsThread::Error& e) {
        return e.what();
    }
}

TEST(NetworkPortErrorTest, EachFailureToConnectSaysWhy)
{
    const std::string refusedPort = std::to_string(NetworkSerialServer::FreeTcpPort());

    // Accepts, then says nothing at all.
    Listener silent(4);
    const std::string silentPort = std::to_string(silent.Port());

    // Accepts and refuses the COM-PORT-OPTION.
    Listener refusing(4);
    std::thread refuser([&] {
        const int client = ::accept(refusing.Fd(), nullptr, nullptr);
        const unsigned char dont[] = {255, 254, 44};
        if (client >= 0) {
            ::send(client, dont, sizeof dont, MSG_NOSIGNAL);
            char ignored[64];
            while (::recv(client, ignored, sizeof ignored, 0) > 0) {
            }
            ::close(client);
        }
    });

    // The backlog filled by connections of its own: the next connection is never answered.
    Listener full(0);
    std::vector<int> fillers;
    for (int i = 0; i < 2; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(full.Port()));
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers.push_back(fd);
    }
    const std::string fullPort = std::to_string(full.Port());

    const struct
    {
        std::string url;
        std::string error;
    } cases[] = {
        {"tcp://127.0.0.1:" + refusedPort,
         "Cannot connect to 127.0.0.1:" + refusedPort + ": connection refused"},
        {"rfc2217://127.0.0.1:" + refusedPort,
         "Cannot connect to 127.0.0.1:" + refusedPort + ": connection refused"},
        {"tcp://nosuchhost.invalid:4001",
         "Cannot connect to nosuchhost.invalid:4001: unknown host"},
        {"tcp://127.0.0.1:" + fullPort, "Cannot connect to 127.0.0.1:" + fullPort + ": timed out"},
        {"rfc2217://127.0.0.1:" + silentPort,
         "Cannot connect to 127.0.0.1:" + silentPort +
             ": the server does not answer as an RFC 2217 server"},
        {"rfc2217://127.0.0.1:" + std::to_string(refusing.Port()),
         "Cannot connect to 127.0.0.1:" + std::to_string(refusing.Port()) +
             ": the server refuses RFC 2217 (COM-PORT-OPTION)"},
        {"tcp://127.0.0.1", "Invalid network port \"tcp://127.0.0.1\": the TCP port is missing "
                            "(HOST:PORT)"},
        {"rfc2217://[::1:4001", "Invalid network port \"rfc2217://[::1:4001\": an IPv6 host is "
                                "written [ADDRESS]:PORT"},
        {"tcp://host:70000", "Invalid network port \"tcp://host:70000\": the TCP port is not "
                             "between 1 and 65535"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(NetworkOpenError(c.url), c.error);
    }
    refuser.join();
    for (int fd : fillers)
        ::close(fd);
    ::unsetenv("TOLVAREN_EXTRA_SERIAL_PORTS");
}

TEST(NetworkPortErrorTest, ClosingDuringAConnectionAttemptDoesNotWaitForTheServer)
{
    Listener silent(4);
    const std::string url = "rfc2217://127.0.0.1:" + std::to_string(silent.Port());
    ::setenv("TOLVAREN_EXTRA_SERIAL_PORTS", url.c_str(), 1);
    SerialPortSettings settings;
    settings.port = 300;
    auto comms = std::make_unique<AutoReconnectSerialComms>(nullptr, settings);
    // The connection has reached the server: the attempt is under way, and this server never
    // answers it.
    pollfd pending = {silent.Fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&pending, 1, 10000), 1);

    const auto start = std::chrono::steady_clock::now();
    comms.reset();
    // Waiting out the server would take the whole negotiation bound.
    const auto waitedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - start)
                              .count();
    EXPECT_LT(waitedMs, SerialCommsThread::networkTimeoutMs / 2);
    ::unsetenv("TOLVAREN_EXTRA_SERIAL_PORTS");
}

} // namespace
