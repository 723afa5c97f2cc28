#include "cli/CliInterrupt.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <thread>

#include <pthread.h>
#include <unistd.h>

namespace {

std::atomic<int> currentPhase{CliInterrupt::Quit};
std::atomic<bool> requested{false};

void Say(const char* text)
{
    std::size_t length = 0;
    while (text[length])
        ++length;
    // Best effort: a closed standard error must not keep the program from stopping.
    if (::write(STDERR_FILENO, text, length) < 0)
        return;
}

void WaitForSignals(sigset_t signalSet)
{
    for (;;) {
        int signal = 0;
        if (::sigwait(&signalSet, &signal) != 0)
            continue;
        const bool again = requested.exchange(true);
        switch (currentPhase.load()) {
        case CliInterrupt::Stoppable:
            if (again)
                break;
            continue;
        case CliInterrupt::Finishing:
            if (again)
                break;
            Say("\ntolvaren-cli: finishing the write into the card first; stopping now would "
                "leave it partly written (press Ctrl+C again to stop anyway)\n");
            continue;
        default:
            break;
        }
        Say("\nStopped.\n");
        std::_Exit(130);
    }
}

} // namespace

void CliInterrupt::Install()
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::thread(WaitForSignals, stopSignals).detach();
}

void CliInterrupt::SetPhase(Phase phase)
{
    currentPhase = phase;
}

bool CliInterrupt::Requested()
{
    return requested.load();
}
