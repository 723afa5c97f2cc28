#pragma once

#include <chrono>
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
// Threads: construction and destruction on the owner's thread; the relay thread is joined by
// the destructor. The paths may be read from any thread.
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

    const std::string& ToolPath() const { return m_tool.slavePath; }
    const std::string& CardPath() const { return m_card.slavePath; }

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

    End m_tool;
    End m_card;
    LineSchedule m_toCard;
    LineSchedule m_toTool;
    int m_stop = -1; // eventfd that ends the relay
    std::thread m_relay;
};
