#pragma once

#include <cstdint>

#include <signal.h>
#include <sys/resource.h>

// A full disk without root and without system paths: while it lives, this process cannot grow
// a file beyond `bytes` (the soft RLIMIT_FSIZE), and a write past it fails with EFBIG instead of
// raising SIGXFSZ. The destructor puts the old limit and signal action back. Process-wide: hold
// it only around the writes under test.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(std::uint64_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    // The same for a child process between fork and exec, where only async-signal-safe calls
    // are allowed; the limit and the ignored signal survive the exec.
    static void ApplyInChild(std::uint64_t bytes);

private:
    rlimit m_old{};
    struct sigaction m_oldAction
    {
    };
};
