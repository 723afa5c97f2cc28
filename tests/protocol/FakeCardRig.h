#pragma once

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "modbus/ModbusErrors.h"
#include "modbus/ModbusMasterDatalink.h"
#include "tests/support/FakeCard.h"
#include "tests/support/FakeCardProtocol.h"
#include "tests/support/ExpectThrowText.h"

// A fake card with protocol contents behind a datalink. Members go in reverse order: the
// datalink is destroyed before the card it talks to.
struct FakeCardRig
{
    FakeCard card;
    FakeCardProtocol content;
    ModbusMasterDatalink datalink;

    FakeCardRig(int cardType, std::uint16_t version)
        : card(cardType, version), content(card, cardType, version), datalink(&card)
    {
    }

    // Requests of one function code (and, unless any, one start address or sub-command).
    std::size_t Count(unsigned char function, long address = -1) const
    {
        const auto requests = card.Requests();
        return std::count_if(requests.begin(), requests.end(), [&](const FakeCardRequest& r) {
            return r.functionCode == function && (address < 0 || r.address == unsigned(address));
        });
    }
    std::size_t VersionReads() const { return Count(4, 65433); }
    std::vector<FakeCardRequest> Vendor(unsigned subCommand) const
    {
        std::vector<FakeCardRequest> found;
        for (const FakeCardRequest& r : card.Requests()) {
            if (r.IsVendor() && r.address == subCommand) {
                found.push_back(r);
            }
        }
        return found;
    }
};


inline ByteVec operator+(ByteVec a, const ByteVec& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
