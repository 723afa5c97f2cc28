#include "simulator/serve/PacedNullModem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Long frames are handed over at least this often while they arrive.
const LineSchedule::Duration pieceInterval = std::chrono::milliseconds(1);

LineSchedule::Duration ByteTimeOf(const PacedNullModem::Settings& settings)
{
    return settings.paced ? LineSchedule::ByteTime(settings.baudRate) : LineSchedule::Duration(0);
}

[[noreturn]] void Fail(const std::string& what)
{
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

// Reads what the program at this end wrote; false when nothing (more) is waiting.
bool ReadSome(int fd, ByteVec& bytes)
{
    unsigned char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            bytes.insert(bytes.end(), buffer, buffer + n);
            return true;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return false;
    }
}

void WriteAll(int fd, const ByteVec& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += std::size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return; // nobody reads the far end and its buffer is full: the rest is lost
        }
    }
}

} // namespace

PacedNullModem::PacedNullModem(const Settings& settings)
    : m_toCard(ByteTimeOf(settings), LineSchedule::Duration(0)),
      m_toTool(ByteTimeOf(settings), settings.replyDelay)
{
    try {
        Open(m_tool);
        Open(m_card);
        m_stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_stop < 0)
            Fail("eventfd");
        m_relay = std::thread([this] { Relay(); });
    } catch (...) {
        Close(m_tool);
        Close(m_card);
        if (m_stop >= 0)
            ::close(m_stop);
        throw;
    }
}

PacedNullModem::~PacedNullModem()
{
    const std::uint64_t one = 1;
    ssize_t ignored = ::write(m_stop, &one, sizeof one);
    (void)ignored;
    m_relay.join();
    Close(m_tool);
    Close(m_card);
    ::close(m_stop);
}

void PacedNullModem::Open(End& end)
{
    char name[256] = {0};
    if (::openpty(&end.master, &end.slave, name, nullptr, nullptr) != 0)
        Fail("openpty");
    end.slavePath = name;
    // Raw until the program at this end configures it: no echo, no line editing.
    termios tio;
    if (::tcgetattr(end.slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(end.slave, TCSANOW, &tio);
    }
    ::fcntl(end.master, F_SETFL, ::fcntl(end.master, F_GETFL) | O_NONBLOCK);
    ::fcntl(end.master, F_SETFD, FD_CLOEXEC);
    ::fcntl(end.slave, F_SETFD, FD_CLOEXEC);
}

void PacedNullModem::Close(End& end)
{
    for (int* fd : {&end.master, &end.slave}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void PacedNullModem::Relay()
{
    // Wake-ups on time to the microsecond, not within the default 50 us slack.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    pollfd fds[3] = {{m_tool.master, POLLIN, 0}, {m_card.master, POLLIN, 0}, {m_stop, POLLIN, 0}};
    ByteVec bytes;
    for (;;) {
        timespec timeout;
        timespec* wait = nullptr;
        if (!m_toCard.IsEmpty() || !m_toTool.IsEmpty()) {
            LineSchedule::TimePoint wake = LineSchedule::TimePoint::max();
            for (const LineSchedule* line : {&m_toCard, &m_toTool}) {
                if (!line->IsEmpty())
                    wake = std::min(wake, line->WakeAt(pieceInterval));
            }
            const auto left =
                std::max(wake - std::chrono::steady_clock::now(), LineSchedule::Duration(0));
            timeout.tv_sec = static_cast<time_t>(left.count() / 1000000000);
            timeout.tv_nsec = static_cast<long>(left.count() % 1000000000);
            wait = &timeout;
        }
        if (::ppoll(fds, 3, wait, nullptr) < 0 && errno != EINTR)
            return;
        if (fds[2].revents != 0)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (fds[0].revents & POLLIN) {
            bytes.clear();
            while (ReadSome(m_tool.master, bytes)) {
            }
            m_toCard.Add(now, bytes.data(), bytes.size());
        }
        if (fds[1].revents & POLLIN) {
            bytes.clear();
            while (ReadSome(m_card.master, bytes)) {
            }
            m_toTool.Add(now, bytes.data(), bytes.size());
        }
        const auto later = std::chrono::steady_clock::now();
        const ByteVec toCard = m_toCard.TakeDue(later);
        if (!toCard.empty())
            WriteAll(m_card.master, toCard);
        const ByteVec toTool = m_toTool.TakeDue(later);
        if (!toTool.empty())
            WriteAll(m_tool.master, toTool);
    }
}
