#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "comms/ByteVec.h"

// Line and card faults for a served card, chosen while it runs: a request swallowed, a reply
// sent too late, with a broken CRC, after stray bytes, in pieces, an exception reply instead of
// the answer, or the port hung up for a while. A fault hits every request, or every Nth.
//
// The injector only decides and reshapes bytes; the serving bridge sends what it returns. Faults
// that stop the card from seeing the request (no-reply, exception, hangup) are decided per
// request, the others reshape the card's reply.
//
// Threads: every member may be called from any thread; one mutex keeps them consistent.
class FaultInjector
{
public:
    enum class Fault { None, NoReply, LateReply, BadCrc, Garbage, Chunks, Exception, Hangup };

    struct Setting
    {
        Fault fault = Fault::None;
        unsigned every = 1; // the fault hits every Nth request (or reply)
        // late-reply: how late after the request; chunks: the gap between pieces; hangup: how
        // long the port stays away. 0 takes the fault's default.
        unsigned ms = 0;
        unsigned code = 4; // exception: the exception code sent
    };

    // What to do with a request frame.
    struct RequestAction
    {
        enum Kind { Pass, Swallow, Answer, HangUp } kind = Pass;
        ByteVec answer;        // Answer: the frame to send instead of the card's reply
        unsigned hangUpMs = 0; // HangUp: how long the port stays away
    };

    // A piece of a reply, sent delay after the previous piece (or after the reply was made).
    struct Piece
    {
        std::chrono::milliseconds delay{0};
        ByteVec bytes;
    };

    struct Counts
    {
        std::uint64_t requests = 0;
        std::uint64_t replies = 0;
        std::uint64_t faulted = 0;  // requests or replies a fault was applied to
        std::uint64_t switches = 0; // Set calls that changed the fault
    };

    // The master's reply time-out that late replies are meant to miss.
    static const unsigned masterTimeoutMs = 1000;

    // Parses "NAME [every=N] [ms=T] [code=C]" (spaces or commas between the parts). Throws
    // std::invalid_argument with a text saying what is wrong.
    static Setting Parse(const std::string& text);
    // "late-reply on one request in 3, 1500 ms late" and the like, for the serving program's
    // output.
    static std::string Describe(const Setting& setting);
    static std::string NameOf(Fault fault);
    // The fault names, none first.
    static std::vector<std::string> Names();
    // The value of ms that a setting with ms 0 stands for.
    static unsigned EffectiveMs(const Setting& setting);

    explicit FaultInjector(std::uint32_t seed = 1);

    void Set(const Setting& setting);
    Setting Current() const;
    bool IsOn() const;
    Counts GetCounts() const;

    RequestAction OnRequest(const ByteVec& request);
    std::vector<Piece> OnReply(const ByteVec& reply);

private:
    // With the mutex held: whether this request or reply is one the fault hits.
    bool Hits();

    mutable std::mutex m_mutex;
    Setting m_setting;
    unsigned m_sinceHit = 0;
    Counts m_counts;
    std::mt19937 m_random;
};
