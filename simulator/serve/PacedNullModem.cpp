#include "simulator/serve/PacedNullModem.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>
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

// The number of /dev/pts/N; -1 for a path of another form.
long PtsNumber(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 >= path.size())
        return -1;
    char* end = nullptr;
    const long n = std::strtol(path.c_str() + slash + 1, &end, 10);
    return *end == '\0' ? n : -1;
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
        m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_stop < 0 || m_wake < 0)
            Fail("eventfd");
        m_currentToolPath = m_tool.slavePath;
        m_relay = std::thread([this] { Relay(); });
    } catch (...) {
        Close(m_tool);
        Close(m_card);
        for (int fd : {m_stop, m_wake})
            if (fd >= 0)
                ::close(fd);
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
    ::close(m_wake);
}

std::string PacedNullModem::CurrentToolPath() const
{
    std::lock_guard<std::mutex> lock(m_controlMutex);
    return m_away ? std::string() : m_currentToolPath;
}

void PacedNullModem::SetEventCallback(std::function<void(const std::string&)> callback)
{
    std::lock_guard<std::mutex> lock(m_controlMutex);
    m_events = std::move(callback);
}

void PacedNullModem::HangUp(unsigned ms)
{
    {
        std::lock_guard<std::mutex> lock(m_controlMutex);
        m_hangUpMs = std::max(ms, 1u);
    }
    const std::uint64_t one = 1;
    ssize_t ignored = ::write(m_wake, &one, sizeof one);
    (void)ignored;
}

void PacedNullModem::Report(const std::string& event)
{
    std::function<void(const std::string&)> events;
    {
        std::lock_guard<std::mutex> lock(m_controlMutex);
        events = m_events;
    }
    if (events)
        events(event);
}

void PacedNullModem::TakeToolEndAway(unsigned ms)
{
    const auto now = std::chrono::steady_clock::now();
    m_backAt = now + std::chrono::milliseconds(ms);
    // The program at the far end lets go of the old number within its reconnect interval;
    // give it several of those before settling for another path.
    m_givesUpSamePathAt = m_backAt + std::chrono::seconds(5);
    std::string path;
    {
        std::lock_guard<std::mutex> lock(m_controlMutex);
        if (m_away)
            return; // already away: only its return moves
        m_away = true;
        path = m_currentToolPath;
    }
    // Closing the master end hangs the port up and takes its path away. Our own slave end stays
    // open meanwhile: it keeps the number from being given to another program's new
    // pseudo-terminal, whose port the program at this end would otherwise open at the old path.
    ::close(m_tool.master);
    m_tool.master = -1;
    Report("Port hung up: " + path + " away for " + std::to_string(ms) + " ms");
}

bool PacedNullModem::BringToolEndBack(bool acceptAnyPath)
{
    std::string wanted;
    {
        std::lock_guard<std::mutex> lock(m_controlMutex);
        wanted = m_currentToolPath;
    }
    // The number comes free once the program at this end has let go of the old port too.
    Close(m_tool);
    // New pseudo-terminals take the lowest free number: open until the old number comes up,
    // keeping the others open meanwhile so that they are not offered again.
    std::vector<End> others;
    End end;
    bool found = false;
    for (int attempt = 0; attempt < 64; ++attempt) {
        End candidate;
        try {
            Open(candidate);
        } catch (const std::exception&) {
            break;
        }
        if (candidate.slavePath == wanted) {
            end = candidate;
            found = true;
            break;
        }
        others.push_back(candidate);
        // Past the old number: it is still held (or was taken), no use opening more now.
        if (PtsNumber(candidate.slavePath) > PtsNumber(wanted))
            break;
    }
    if (!found && acceptAnyPath && !others.empty()) {
        end = others.front();
        others.erase(others.begin());
        found = true;
    }
    for (End& other : others)
        Close(other);
    if (!found)
        return false;
    m_tool = end;
    {
        std::lock_guard<std::mutex> lock(m_controlMutex);
        m_currentToolPath = m_tool.slavePath;
        m_away = false;
    }
    if (m_tool.slavePath == wanted)
        Report("Port back at " + m_tool.slavePath);
    else
        Report("Port back at " + m_tool.slavePath + " (" + wanted + " was taken)");
    return true;
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
    pollfd fds[4] = {{m_tool.master, POLLIN, 0},
                     {m_card.master, POLLIN, 0},
                     {m_stop, POLLIN, 0},
                     {m_wake, POLLIN, 0}};
    const std::chrono::milliseconds retryBack(50);
    ByteVec bytes;
    for (;;) {
        bool away = false;
        {
            std::lock_guard<std::mutex> lock(m_controlMutex);
            away = m_away;
        }
        // A negative descriptor is skipped by poll: nothing to read while the end is away.
        fds[0].fd = away ? -1 : m_tool.master;
        timespec timeout;
        timespec* wait = nullptr;
        if (!m_toCard.IsEmpty() || !m_toTool.IsEmpty() || away) {
            LineSchedule::TimePoint wake = LineSchedule::TimePoint::max();
            for (const LineSchedule* line : {&m_toCard, &m_toTool}) {
                if (!line->IsEmpty())
                    wake = std::min(wake, line->WakeAt(pieceInterval));
            }
            if (away)
                wake = std::min(wake, m_backAt);
            const auto left =
                std::max(wake - std::chrono::steady_clock::now(), LineSchedule::Duration(0));
            timeout.tv_sec = static_cast<time_t>(left.count() / 1000000000);
            timeout.tv_nsec = static_cast<long>(left.count() % 1000000000);
            wait = &timeout;
        }
        if (::ppoll(fds, 4, wait, nullptr) < 0 && errno != EINTR)
            return;
        if (fds[2].revents != 0)
            return;
        if (fds[3].revents & POLLIN) {
            std::uint64_t count = 0;
            ssize_t ignored = ::read(m_wake, &count, sizeof count);
            (void)ignored;
            unsigned ms = 0;
            {
                std::lock_guard<std::mutex> lock(m_controlMutex);
                std::swap(ms, m_hangUpMs);
            }
            if (ms != 0)
                TakeToolEndAway(ms);
            continue;
        }
        const auto now = std::chrono::steady_clock::now();
        if (away && now >= m_backAt) {
            if (!BringToolEndBack(now >= m_givesUpSamePathAt))
                m_backAt = now + retryBack;
            continue;
        }
        if (!away && (fds[0].revents & POLLIN)) {
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
        // Bytes for an end that is away are lost, as on a cable with nothing plugged in.
        const ByteVec toTool = m_toTool.TakeDue(later);
        if (!toTool.empty() && !away)
            WriteAll(m_tool.master, toTool);
    }
}
