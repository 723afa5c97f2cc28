#include "tests/support/PtyPair.h"

#include <cerrno>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    char name[256] = {0};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    m_slavePath = name;
    termios tio;
    ::tcgetattr(m_slave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(m_slave, TCSANOW, &tio);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair()
{
    CloseMaster();
    if (m_slave >= 0)
        ::close(m_slave);
}

void PtyPair::Write(const ByteVec& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += std::size_t(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            throw std::runtime_error("pty write failed");
        } else {
            pollfd p = {m_master, POLLOUT, 0};
            ::poll(&p, 1, 100);
        }
    }
}

ByteVec PtyPair::Read(std::size_t count, std::chrono::milliseconds timeout)
{
    ByteVec bytes;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (bytes.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p = {m_master, POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0)
            continue;
        unsigned char buffer[4096];
        const ssize_t n = ::read(m_master, buffer, std::min(sizeof buffer, count - bytes.size()));
        if (n > 0)
            bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
}

ByteVec PtyPair::ReadFor(std::chrono::milliseconds time)
{
    return Read(1 << 20, time);
}

void PtyPair::CloseMaster()
{
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}
