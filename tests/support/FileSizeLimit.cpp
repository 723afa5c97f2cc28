#include "tests/support/FileSizeLimit.h"

#include <stdexcept>

namespace {

// Lowers the soft limit only: the hard limit stays, so the old soft one can be restored.
bool Lower(std::uint64_t bytes)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0)
        return false;
    limit.rlim_cur =
        limit.rlim_max == RLIM_INFINITY || bytes < limit.rlim_max ? rlim_t(bytes) : limit.rlim_max;
    return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

} // namespace

FileSizeLimit::FileSizeLimit(std::uint64_t bytes)
{
    struct sigaction ignore
    {
    };
    ignore.sa_handler = SIG_IGN;
    if (::getrlimit(RLIMIT_FSIZE, &m_old) != 0 || ::sigaction(SIGXFSZ, &ignore, &m_oldAction) != 0)
        throw std::runtime_error("cannot read the file size limit");
    if (!Lower(bytes)) {
        ::sigaction(SIGXFSZ, &m_oldAction, nullptr);
        throw std::runtime_error("cannot lower the file size limit");
    }
}

FileSizeLimit::~FileSizeLimit()
{
    ::setrlimit(RLIMIT_FSIZE, &m_old);
    ::sigaction(SIGXFSZ, &m_oldAction, nullptr);
}

void FileSizeLimit::ApplyInChild(std::uint64_t bytes)
{
    ::signal(SIGXFSZ, SIG_IGN);
    Lower(bytes);
}
