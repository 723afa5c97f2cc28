#include "tests/support/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (rc != 0) {
        ::close(pipeFds[0]);
        throw std::runtime_error("cannot start " + program);
    }
    m_outputFd = pipeFds[0];
    ::fcntl(m_outputFd, F_SETFL, ::fcntl(m_outputFd, F_GETFL) | O_NONBLOCK);
}

ChildProcess::~ChildProcess()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        int status;
        ::waitpid(m_pid, &status, 0);
    }
    if (m_outputFd >= 0)
        ::close(m_outputFd);
}

bool ChildProcess::Fill(std::chrono::steady_clock::time_point deadline)
{
    while (!m_ended) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() < 0)
            return false;
        pollfd p = {m_outputFd, POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0)
            continue;
        char chunk[4096];
        const ssize_t n = ::read(m_outputFd, chunk, sizeof chunk);
        if (n > 0) {
            m_buffer.append(chunk, std::size_t(n));
            return true;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR))
            m_ended = true;
    }
    return false;
}

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds bound)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        const std::size_t newline = m_buffer.find('\n');
        if (newline != std::string::npos) {
            std::string line = m_buffer.substr(0, newline);
            m_buffer.erase(0, newline + 1);
            m_output += line + "\n";
            return line;
        }
        if (!Fill(deadline))
            return std::nullopt;
    }
}

std::optional<std::string> ChildProcess::LineStartingWith(const std::string& prefix,
                                                          std::chrono::milliseconds bound)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const auto line = ReadLine(std::max(left, std::chrono::milliseconds(0)));
        if (!line)
            return std::nullopt;
        if (line->compare(0, prefix.size(), prefix) == 0)
            return line;
    }
}

void ChildProcess::Signal(int signal)
{
    if (m_pid > 0)
        ::kill(m_pid, signal);
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds bound)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (ReadLine(std::chrono::duration_cast<std::chrono::milliseconds>(std::max(
        deadline - std::chrono::steady_clock::now(), std::chrono::steady_clock::duration(0))))) {
    }
    if (!m_ended)
        return std::nullopt;
    if (!m_buffer.empty()) {
        m_output += m_buffer;
        m_buffer.clear();
    }
    // Its output has closed: it is ending, if it has not already.
    int status = 0;
    if (::waitpid(m_pid, &status, 0) != m_pid)
        return std::nullopt;
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
