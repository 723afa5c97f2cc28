#pragma once

#include <chrono>

#include <boost/thread/future.hpp>

// Ctrl+C (and SIGTERM, SIGHUP) in tolvaren-cli. Install() blocks these signals before any other
// thread exists, so every thread inherits the block, and one thread of its own waits for them.
// What a signal does depends on the phase the main thread is in:
//   Quit       the default: "Stopped." and exit 130 at once; files are written whole at the end
//              of an operation, so nothing is left half-written;
//   Stoppable  the flag is set; the main thread sees it in WaitOrStop and stops the operation;
//   Finishing  the card is being written and stopping halfway would leave it partly written:
//              a note, the flag is set, and only a second signal ends the program.
//
// Threads: Install, SetPhase and WaitOrStop on the main thread; Requested from any thread.
class CliInterrupt
{
public:
    enum Phase { Quit, Stoppable, Finishing };

    // Thrown by WaitOrStop once a signal has arrived.
    struct Stopped
    {
    };

    static void Install();
    static void SetPhase(Phase phase);
    static bool Requested();
    // Throws Stopped when a signal has arrived (one that waited for a write to finish).
    static void StopIfRequested()
    {
        if (Requested())
            throw Stopped();
    }

    // Waits for the future; throws Stopped when a signal arrives first.
    template <typename T> static void WaitOrStop(boost::future<T>& future)
    {
        while (future.wait_for(boost::chrono::milliseconds(50)) != boost::future_status::ready) {
            if (Requested())
                throw Stopped();
        }
    }

    // Keeps a phase for the life of a scope, then returns to Quit.
    class Scope
    {
    public:
        explicit Scope(Phase phase) { SetPhase(phase); }
        ~Scope() { SetPhase(Quit); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
    };
};
