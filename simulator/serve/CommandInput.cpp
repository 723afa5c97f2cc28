#include "simulator/serve/CommandInput.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

CommandInput::CommandInput(const std::string& controlPath, Handler handler)
    : m_controlPath(controlPath), m_handler(std::move(handler))
{
    if (!m_controlPath.empty()) {
        struct stat st;
        if (::lstat(m_controlPath.c_str(), &st) == 0) {
            if (!S_ISFIFO(st.st_mode))
                throw std::runtime_error(m_controlPath + " exists and is not a named pipe");
        } else if (::mkfifo(m_controlPath.c_str(), 0600) == 0) {
            m_madePipe = true;
        } else {
            throw std::runtime_error("cannot make the named pipe " + m_controlPath + ": " +
                                     std::strerror(errno));
        }
        // Open for writing too, so that the pipe never reads as ended when a writer closes it.
        m_pipe = ::open(m_controlPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (m_pipe < 0) {
            const std::string error = std::strerror(errno);
            if (m_madePipe)
                ::unlink(m_controlPath.c_str());
            throw std::runtime_error("cannot open " + m_controlPath + ": " + error);
        }
    }
    m_reader = std::thread([this] { Read(); });
}

CommandInput::~CommandInput()
{
    m_stop = true;
    m_reader.join();
    if (m_pipe >= 0)
        ::close(m_pipe);
    if (m_madePipe)
        ::unlink(m_controlPath.c_str());
}

void CommandInput::Read()
{
    // Standard input and the pipe each gather their own line.
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {m_pipe, POLLIN, 0}};
    std::string lines[2];
    while (!m_stop) {
        // The stop flag is looked at a few times a second.
        if (::poll(fds, 2, 100) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char chunk[256];
            const ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                fds[i].fd = -1; // ended (standard input closed): nobody types any more
                continue;
            }
            for (ssize_t k = 0; k < n; ++k) {
                if (chunk[k] != '\n') {
                    lines[i] += chunk[k];
                    continue;
                }
                if (!lines[i].empty() && lines[i].back() == '\r')
                    lines[i].pop_back();
                m_handler(lines[i]);
                lines[i].clear();
            }
        }
    }
}
