#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

// Command lines for the serving program, from its standard input (a terminal) and, optionally,
// from a named pipe that scripts write to without a terminal (`echo "f none" > PATH`). The pipe
// is made when it does not exist and removed again at the end if it was made here; a path that
// exists and is no pipe is refused.
//
// Threads: construct and destroy on one thread; the handler runs on the reading thread, one
// line at a time, until the destructor has joined it.
class CommandInput
{
public:
    typedef std::function<void(const std::string& line)> Handler;

    // controlPath may be empty. Throws std::runtime_error when the pipe cannot be made or opened.
    CommandInput(const std::string& controlPath, Handler handler);
    ~CommandInput();
    CommandInput(const CommandInput&) = delete;
    CommandInput& operator=(const CommandInput&) = delete;

private:
    void Read();

    std::string m_controlPath;
    bool m_madePipe = false;
    int m_pipe = -1;
    Handler m_handler;
    std::atomic<bool> m_stop{false};
    std::thread m_reader;
};
