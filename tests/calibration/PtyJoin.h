#pragma once

#include <thread>

#include "tests/support/PtyPair.h"

// Two pseudo-terminals joined like the ends of a null-modem cable, without pacing: what a
// program writes to one slave path it reads from the other. Threads: a relay thread of its own,
// joined by the destructor.
class PtyJoin
{
public:
    PtyJoin();
    ~PtyJoin();
    PtyJoin(const PtyJoin&) = delete;
    PtyJoin& operator=(const PtyJoin&) = delete;

    const std::string& PathA() const { return m_a.SlavePath(); }
    const std::string& PathB() const { return m_b.SlavePath(); }

private:
    void Relay();

    PtyPair m_a;
    PtyPair m_b;
    int m_stop = -1;
    std::thread m_relay;
};
