#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

// A program started as a user starts it: its standard output and error (together) are read
// through a pipe, line by line; it can be signalled and its exit awaited. Every wait has a
// bound. The destructor kills and reaps a program still running.
class ChildProcess
{
public:
    // Throws std::runtime_error when the program cannot be started.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next line of output (without its newline); none when the output ended or the time
    // ran out.
    std::optional<std::string> ReadLine(std::chrono::milliseconds bound = std::chrono::seconds(10));
    // Reads lines up to the first that starts with prefix and returns it.
    std::optional<std::string>
    LineStartingWith(const std::string& prefix,
                     std::chrono::milliseconds bound = std::chrono::seconds(10));
    // Every line read so far, each followed by a newline.
    const std::string& Output() const { return m_output; }

    void Signal(int signal);
    // Reads the rest of the output until the program closes it, then reaps it: its exit code,
    // or 128 + the signal that ended it; none when it did not end in time.
    std::optional<int> WaitForExit(std::chrono::milliseconds bound = std::chrono::seconds(10));

private:
    bool Fill(std::chrono::steady_clock::time_point deadline);

    pid_t m_pid = -1;
    int m_outputFd = -1;
    std::string m_buffer; // read but not yet returned as a line
    std::string m_output;
    bool m_ended = false;
};
