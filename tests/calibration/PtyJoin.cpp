#include "tests/calibration/PtyJoin.h"

#include <cerrno>
#include <cstdint>
#include <stdexcept>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

PtyJoin::PtyJoin()
{
    m_stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_stop < 0)
        throw std::runtime_error("eventfd failed");
    m_relay = std::thread([this] { Relay(); });
}

PtyJoin::~PtyJoin()
{
    const std::uint64_t one = 1;
    const ssize_t written = ::write(m_stop, &one, sizeof one);
    (void)written;
    m_relay.join();
    ::close(m_stop);
}

void PtyJoin::Relay()
{
    pollfd fds[3] = {{m_a.MasterFd(), POLLIN, 0}, {m_b.MasterFd(), POLLIN, 0}, {m_stop, POLLIN, 0}};
    PtyPair* to[2] = {&m_b, &m_a};
    unsigned char buffer[4096];
    for (;;) {
        if (::poll(fds, 3, -1) < 0 && errno != EINTR)
            return;
        if (fds[2].revents != 0)
            return;
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0)
                to[i]->Write(ByteVec(buffer, buffer + n));
        }
    }
}
