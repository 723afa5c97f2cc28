#pragma once

#include <algorithm>
#include <cstdio>
#include <string>

#include <unistd.h>

// Progress on standard error: a bar redrawn in place on a terminal, a line every 10 % (and at
// every retry) in a log. Show runs on the worker that does the work; End on the main thread once
// that worker has ended.
class ProgressBar
{
public:
    explicit ProgressBar(const char* what) : m_what(what), m_terminal(::isatty(STDERR_FILENO) == 1)
    {
    }

    void Show(float percent, unsigned retries = 0)
    {
        const int whole = std::max(0, std::min(100, int(percent)));
        if (m_terminal) {
            const int filled = whole * 40 / 100;
            std::fprintf(stderr, "\r%s [%s%s] %3d%%%s", m_what, std::string(filled, '#').c_str(),
                         std::string(40 - filled, '.').c_str(), whole,
                         RetriesText(retries).c_str());
        } else if (whole / 10 > m_lastTenth || retries != m_lastRetries) {
            std::fprintf(stderr, "%s: %d%%%s\n", m_what, whole, RetriesText(retries).c_str());
            m_lastTenth = whole / 10;
        }
        m_lastRetries = retries;
        std::fflush(stderr);
    }

    void End()
    {
        if (m_terminal)
            std::fputs("\n", stderr);
    }

private:
    // "" or " (3 retries)": lost replies asked again so far.
    static std::string RetriesText(unsigned retries)
    {
        if (retries == 0)
            return std::string();
        return " (" + std::to_string(retries) + (retries == 1 ? " retry)" : " retries)");
    }

    const char* m_what;
    const bool m_terminal;
    int m_lastTenth = -1;
    unsigned m_lastRetries = 0;
};
