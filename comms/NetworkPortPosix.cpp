// POSIX backend of the network serial port: a non-blocking TCP socket, raw or carrying a Telnet
// session with the COM-PORT-OPTION.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/throw_exception.hpp>

#include "comms/NetworkPortAddress.h"
#include "comms/Rfc2217Session.h"
#include "comms/SerialPlatform.h"
#include "comms/SerialPlatformPosix.h"

namespace SerialPlatform {

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& reason, int code)
{
    boost::throw_exception(SystemError(reason, code));
}

std::string ReasonOf(int code)
{
    switch (code) {
    case ECONNREFUSED:
        return "connection refused";
    case ETIMEDOUT:
        return "timed out";
    case EHOSTUNREACH:
    case ENETUNREACH:
        return "no route to the host";
    case ECONNRESET:
    case EPIPE:
        return "the connection was reset";
    default:
        return std::strerror(code);
    }
}

int MillisecondsLeft(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

// How often a wait looks whether its owner has given up.
const int abandonCheckMs = 50;

// Waits for events on fd until the deadline; false when it passed first. Throws once abandoned
// is set.
bool WaitFor(int fd, short events, Clock::time_point deadline, const std::atomic<bool>* abandoned)
{
    for (;;) {
        if (abandoned && *abandoned)
            Fail("abandoned", ECANCELED);
        const int left = MillisecondsLeft(deadline);
        const int slice = abandoned ? std::min(left, abandonCheckMs) : left;
        pollfd p = {fd, events, 0};
        const int rc = ::poll(&p, 1, slice);
        if (rc > 0)
            return true;
        if (rc == 0 && slice == left)
            return false;
        if (rc < 0 && errno != EINTR)
            Fail(ReasonOf(errno), errno);
    }
}

void SetOption(int fd, int level, int name, int value)
{
    // Refused options (an old kernel) leave the defaults: the link still works.
    ::setsockopt(fd, level, name, &value, sizeof value);
}

// A connected, non-blocking socket to one of the host's addresses.
int Connect(const NetworkPortAddress& address, Clock::time_point deadline,
            const std::atomic<bool>* abandoned)
{
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int rc =
        ::getaddrinfo(address.host.c_str(), std::to_string(address.port).c_str(), &hints, &list);
    if (rc == EAI_SYSTEM)
        Fail(ReasonOf(errno), errno);
    if (rc != 0)
        Fail("unknown host", 0);
    // Freed however the attempt ends: a wait below throws when abandoned.
    const std::unique_ptr<addrinfo, void (*)(addrinfo*)> found(list, ::freeaddrinfo);

    int lastError = ETIMEDOUT;
    int fd = -1;
    for (addrinfo* a = found.get(); a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        int error = 0;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            error = errno;
            if (error == EINPROGRESS) {
                bool connected = false;
                try {
                    connected = WaitFor(fd, POLLOUT, deadline, abandoned);
                } catch (...) {
                    ::close(fd);
                    throw;
                }
                if (!connected) {
                    error = ETIMEDOUT;
                } else {
                    socklen_t length = sizeof error;
                    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                        error = errno;
                }
            }
        }
        if (error != 0) {
            lastError = error;
            ::close(fd);
            fd = -1;
        }
    }
    if (fd < 0)
        Fail(ReasonOf(lastError), lastError);

    // Requests are short and wait for their reply: no coalescing.
    SetOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    SetOption(fd, IPPROTO_TCP, TCP_QUICKACK, 1);
    // A pulled cable or a dead server is noticed within seconds, idle or not.
    SetOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
    SetOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, 2);
    SetOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, 1);
    SetOption(fd, IPPROTO_TCP, TCP_KEEPCNT, 3);
    SetOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, 5000);
    return fd;
}

class NetworkPort : public Port
{
public:
    NetworkPort(int fd, const NetworkPortAddress& address, unsigned timeoutMs,
                const std::atomic<bool>* abandoned)
        : m_fd(fd), m_telnet(address.kind == NetworkPortAddress::Rfc2217), m_timeoutMs(timeoutMs),
          m_abandoned(abandoned)
    {
        m_readable.fd = fd;
        m_readable.events = POLLIN;
        m_writable.fd = fd;
        m_writable.events = POLLOUT;
    }

    ~NetworkPort() override { ::close(m_fd); }

    // The Telnet session: COM-PORT-OPTION offered and accepted.
    void OpenSession()
    {
        Send(m_session.Start());
        AwaitServer([this] { return m_session.ComPortState() != Rfc2217Session::ComPort::Offered; },
                    "the server does not answer as an RFC 2217 server");
        if (m_session.ComPortState() == Rfc2217Session::ComPort::Refused)
            Fail("the server refuses RFC 2217 (COM-PORT-OPTION)", 0);
    }

    void Configure(int baudRate, int parity, int stopBits) override
    {
        if (parity < 0 || parity > 2 || (stopBits != 1 && stopBits != 2) || baudRate <= 0)
            Fail("unsupported line settings", 0);
        if (m_telnet) {
            // A confirmation left from an earlier setting must not pass for this one.
            m_session.ClearServerLine();
            Send(m_session.SetLine(std::uint32_t(baudRate), parity, stopBits));
            AwaitServer([this] { return m_session.ServerBaudRate() != 0; },
                        "the server does not confirm the baud rate");
            if (m_session.ServerBaudRate() != std::uint32_t(baudRate))
                Fail("the server set " + std::to_string(m_session.ServerBaudRate()) +
                         " baud instead of " + std::to_string(baudRate),
                     0);
        }
        Purge();
    }

    void RaiseDtrThenRts() override
    {
        if (m_telnet)
            Send(m_session.RaiseDtrThenRts());
    }

    void Purge() override
    {
        if (m_telnet)
            Send(m_session.PurgeBoth());
        // What has arrived so far is nobody's answer: read and drop it, answering commands.
        unsigned char buffer[1024];
        while (ReadSome(buffer, sizeof buffer) > 0) {
        }
    }

    std::size_t ReadSome(unsigned char* buffer, std::size_t max) override
    {
        if (!m_halfIac)
            FlushReplies();
        unsigned char* target = m_telnet ? m_wire : buffer;
        const std::size_t wanted = m_telnet ? std::min(max, sizeof m_wire) : max;
        for (;;) {
            const ssize_t n = ::recv(m_fd, target, wanted, 0);
            if (n == 0)
                Fail("the server closed the connection", ECONNRESET);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK)
                    return 0;
                Fail(ReasonOf(errno), errno);
            }
            // Acknowledged at once: a server that sends a reply in small pieces and waits for
            // each acknowledgement (Nagle) would otherwise wait out our delayed ACK every time.
            SetOption(m_fd, IPPROTO_TCP, TCP_QUICKACK, 1);
            if (!m_telnet)
                return std::size_t(n);
            // Decoding never makes more data than it was given, so all of it fits.
            ByteVec data;
            m_session.Receive(m_wire, std::size_t(n), data, m_replies);
            if (!m_halfIac)
                FlushReplies();
            std::copy(data.begin(), data.end(), buffer);
            return data.size();
        }
    }

    std::size_t WriteSome(const unsigned char* data, std::size_t length) override
    {
        if (!m_telnet)
            return SendSome(data, length);
        std::size_t accepted = 0;
        if (m_halfIac) {
            // data[0] is the 0xFF whose first half already left: send its second.
            const unsigned char iac = TelnetDecoder::IAC;
            if (length == 0 || SendSome(&iac, 1) == 0)
                return 0;
            m_halfIac = false;
            accepted = 1;
        }
        if (!FlushReplies())
            return accepted;
        ByteVec wire;
        TelnetDecoder::AppendEscaped(data + accepted, length - accepted, wire);
        const std::size_t sent = SendSome(wire.data(), wire.size());
        // The data bytes whose whole wire form left; a 0xFF cut after its first half is not
        // counted and completed by the next call, which starts with it.
        std::size_t onWire = 0;
        while (accepted < length) {
            const std::size_t need = data[accepted] == TelnetDecoder::IAC ? 2 : 1;
            if (onWire + need > sent)
                break;
            onWire += need;
            ++accepted;
        }
        m_halfIac = onWire < sent;
        return accepted;
    }

    WaitHandle Readable() const override { return &m_readable; }
    WaitHandle Writable() const override { return &m_writable; }
    WaitHandle BreakSeen() const override { return nullptr; }
    bool TakeBreaks() override { return false; }

private:
    // Bytes the socket takes now; 0 when it is full.
    std::size_t SendSome(const unsigned char* bytes, std::size_t length)
    {
        for (;;) {
            const ssize_t n = ::send(m_fd, bytes, length, MSG_NOSIGNAL);
            if (n >= 0)
                return std::size_t(n);
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return 0;
            Fail(ReasonOf(errno), errno);
        }
    }

    // Sends the answers owed to the server; false while some must wait for room.
    bool FlushReplies()
    {
        if (!m_replies.empty()) {
            const std::size_t n = SendSome(m_replies.data(), m_replies.size());
            m_replies.erase(m_replies.begin(), m_replies.begin() + std::ptrdiff_t(n));
        }
        return m_replies.empty();
    }

    // Sends session bytes during opening, waiting for room until the time-out.
    void Send(const ByteVec& bytes)
    {
        m_replies.insert(m_replies.end(), bytes.begin(), bytes.end());
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(m_timeoutMs);
        while (!FlushReplies()) {
            if (!WaitFor(m_fd, POLLOUT, deadline, m_abandoned))
                Fail("timed out", ETIMEDOUT);
        }
    }

    // Reads and answers the server until done() holds; throws the failure text on time-out.
    template <class Done> void AwaitServer(Done done, const std::string& failure)
    {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(m_timeoutMs);
        unsigned char ignored[1024];
        while (!done()) {
            if (!WaitFor(m_fd, POLLIN, deadline, m_abandoned))
                Fail(failure, ETIMEDOUT);
            ReadSome(ignored, sizeof ignored); // data before the line is set is nobody's
        }
    }

    int m_fd;
    bool m_telnet;
    unsigned m_timeoutMs;
    const std::atomic<bool>* m_abandoned; // the owner gave up: negotiation waits end
    Rfc2217Session m_session;
    ByteVec m_replies;          // answers to the server not yet sent
    bool m_halfIac = false;     // a doubled 0xFF of the data is half sent
    unsigned char m_wire[1024]; // received Telnet bytes, being decoded
    WaitSource m_readable;
    WaitSource m_writable;
};

} // namespace

std::unique_ptr<Port> ConnectNetworkPort(const std::string& url, unsigned timeoutMs,
                                         const std::atomic<bool>* abandoned)
{
    const NetworkPortAddress address = NetworkPortAddress::Parse(url);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const int fd = Connect(address, deadline, abandoned);
    std::unique_ptr<NetworkPort> port(new NetworkPort(fd, address, timeoutMs, abandoned));
    if (address.kind == NetworkPortAddress::Rfc2217)
        port->OpenSession();
    return port;
}

} // namespace SerialPlatform
