#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "simulator/LineSchedule.h"

// Two pseudo-terminals joined like the ends of a serial cable: what a program writes to one end
// it reads from the other. A pseudo-terminal has no baud rate, so a relay thread carries the
// bytes across at the pace of a real line (see LineSchedule): a reply cannot start before the
// request would have finished arriving, nor arrive faster than the line allows. A delay per
// reply stands for a USB adapter's latency.
//
// The master (the tool, libmodbus, ...) opens ToolPath(); the card is served on CardPath().
// Both ends stay open inside this object as well, so either program may close and reopen its
// end at any time; bytes written while nobody listens at the other end are lost, as on a wire.
//
// HangUp closes the tool's end as an unplugged adapter vanishes: the program there sees its port
// hang up and the path go away. The number stays reserved while the end is away, and after the
// given time a new end appears at the same path (once the program there has let go of the old
// port; should another program take the number at that moment, the end comes back elsewhere,
// which is reported).
//
// Threads: construction and destruction on the owner's thread; the relay thread is joined by
// the destructor. The paths may be read from any thread; CurrentToolPath and HangUp may be
// called from any thread. The event callback runs on the relay thread and must not call back.
class PacedNullModem
{
public:
    struct Settings
    {
        unsigned baudRate = 115200;
        bool paced = true;
        // Added before each reply (bytes from the card's end to the tool's).
        std::chrono::microseconds replyDelay{0};
    };

    // Throws std::runtime_error when the pseudo-terminals cannot be made.
    explicit PacedNullModem(const Settings& settings);
    ~PacedNullModem();
    PacedNullModem(const PacedNullModem&) = delete;
    PacedNullModem& operator=(const PacedNullModem&) = delete;

    // The tool's end as first made.
    const std::string& ToolPath() const { return m_tool.slavePath; }
    const std::string& CardPath() const { return m_card.slavePath; }
    // The tool's end now: ToolPath() unless it came back elsewhere after a hang-up; empty
    // while it is away.
    std::string CurrentToolPath() const;

    // Takes the tool's end away for ms milliseconds (from now; a later call while it is away
    // moves its return). Events ("hung up", "back") go to the callback given here first.
    void SetEventCallback(std::function<void(const std::string& event)> callback);
    void HangUp(unsigned ms);

private:
    struct End
    {
        int master = -1;
        int slave = -1; // kept open so the master never sees a hang-up
        std::string slavePath;
    };
    static void Open(End& end);
    static void Close(End& end);
    void Relay();
    // Relay thread: closes the tool's end, or tries to bring it back at its old path.
    void TakeToolEndAway(unsigned ms);
    bool BringToolEndBack(bool acceptAnyPath);
    void Report(const std::string& event);

    End m_tool;
    End m_card;
    LineSchedule m_toCard;
    LineSchedule m_toTool;
    int m_stop = -1; // eventfd that ends the relay
    int m_wake = -1; // eventfd: a hang-up was asked for

    mutable std::mutex m_controlMutex; // guards the next four
    unsigned m_hangUpMs = 0;           // asked for and not yet taken by the relay
    std::string m_currentToolPath;
    std::function<void(const std::string&)> m_events;
    bool m_away = false;

    // Relay thread only.
    std::chrono::steady_clock::time_point m_backAt;
    std::chrono::steady_clock::time_point m_givesUpSamePathAt;
    std::thread m_relay;
};
