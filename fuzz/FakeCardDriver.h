#pragma once

#include <cstdint>
#include <deque>
#include <mutex>

#include "modbus/ModbusMasterDatalink.h"
#include "tests/support/FakeCard.h"

// The fake card and a datalink on it, for the whole process (never destroyed: their threads
// must not be joined while exit handlers run). Vendor sub-commands registered with Serve take
// their payloads from a queue the fuzz input fills; when it runs dry they answer empty or,
// with Endless, start over, as a card that never stops sending would.
//
// Threads: the fuzz driver fills the queue and starts one operation; handlers run on whatever
// thread transmits (the operation's worker or a datalink thread), one at a time.
class FakeCardDriver
{
public:
    FakeCard card;
    ModbusMasterDatalink link{&card};

    static FakeCardDriver& Instance()
    {
        static FakeCardDriver* driver = new FakeCardDriver;
        return *driver;
    }

    void SetPayloads(std::deque<ByteVec> payloads, bool endless)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_payloads = std::move(payloads);
        m_endless = endless;
    }

    void Serve(std::uint16_t subCommand)
    {
        card.SetVendorHandler(subCommand, [this](const ByteVec&, ByteVec& payload) {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_payloads.empty())
                return 0;
            payload = m_payloads.front();
            m_payloads.pop_front();
            if (m_endless)
                m_payloads.push_back(payload);
            return 0;
        });
    }

private:
    std::mutex m_mutex;
    std::deque<ByteVec> m_payloads;
    bool m_endless = false;
};
