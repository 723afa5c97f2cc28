#include "simulator/CardTrafficLog.h"

#include <gtest/gtest.h>

#include "modbus/ModbusCrc.h"
#include "modbus/ModbusMasterDatalink.h"
#include "protocol/TolvarenCommsCommon.h"
#include "simulator/FullCardSimulator.h"
#include "tests/support/FutureWait.h"

namespace {

struct Parsed
{
    unsigned char type;
    std::uint64_t units;
    ByteVec frame;
};

// Splits a log stream into records; fails the test on a stream that does not end on a record.
std::vector<Parsed> Parse(const ByteVec& stream)
{
    std::vector<Parsed> records;
    std::size_t at = 0;
    while (at + 7 <= stream.size() && at + 7 + stream[at + 6] <= stream.size()) {
        Parsed r{stream[at], 0, {}};
        for (int k = 4; k >= 0; --k)
            r.units = (r.units << 8) | stream[at + 1 + k];
        r.frame.assign(stream.begin() + long(at + 7), stream.begin() + long(at + 7 + stream[at + 6]));
        at += 7 + stream[at + 6];
        records.push_back(std::move(r));
    }
    EXPECT_EQ(at, stream.size());
    return records;
}

ByteVec WithCrc(ByteVec frame)
{
    AppendModbusCrc(frame);
    return frame;
}

TEST(CardTrafficLogTest, FullCardLogsTheFramesItReallyReceivedAndSent)
{
    std::uint64_t nowMs = 1000;
    FullCardSimulator card([&nowMs] { return nowMs; });
    ModbusMasterDatalink datalink(&card);
    TolvarenCommsCommon comms(datalink);

    auto start = comms.GetTrafficLogChunk(false);
    ASSERT_TRUE(FutureWait::Ready(start));
    EXPECT_TRUE(start.get().empty());

    auto serial = comms.ReadSingleRegister(false, 900);
    ASSERT_TRUE(FutureWait::Ready(serial));
    EXPECT_EQ(serial.get(), 1207);
    nowMs = 2000;
    auto profile = comms.ReadSingleRegister(true, 9100);
    ASSERT_TRUE(FutureWait::Ready(profile));
    EXPECT_EQ(profile.get(), 0);

    // Reads of the log itself are not in it.
    ByteVec stream;
    for (int read = 0; read < 3; ++read) {
        auto chunk = comms.GetTrafficLogChunk(true);
        ASSERT_TRUE(FutureWait::Ready(chunk));
        const ByteVec bytes = chunk.get();
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    const std::vector<Parsed> records = Parse(stream);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].type, 2);
    EXPECT_EQ(records[0].units, 62500u); // 1 s in 16 us units
    EXPECT_EQ(records[0].frame, WithCrc({0x01, 0x04, 0x03, 0x84, 0x00, 0x01}));
    EXPECT_EQ(records[1].type, 3);
    EXPECT_EQ(records[1].frame, WithCrc({0x01, 0x04, 0x02, 0x04, 0xB7}));
    EXPECT_EQ(records[2].units, 125000u);
    EXPECT_EQ(records[2].frame, WithCrc({0x01, 0x03, 0x23, 0x8C, 0x00, 0x01}));
    EXPECT_EQ(records[3].frame, WithCrc({0x01, 0x03, 0x02, 0x00, 0x00}));

    // A new series starts from an empty log.
    auto again = comms.ReadSingleRegister(false, 900);
    ASSERT_TRUE(FutureWait::Ready(again));
    auto restart = comms.GetTrafficLogChunk(false);
    ASSERT_TRUE(FutureWait::Ready(restart));
    auto next = comms.GetTrafficLogChunk(true);
    ASSERT_TRUE(FutureWait::Ready(next));
    EXPECT_TRUE(next.get().empty());
}

TEST(CardTrafficLogTest, OverflowLeavesAMarkAndNeverCutsARecordBeingRead)
{
    CardTrafficLog log;
    ByteVec payload;
    EXPECT_EQ(log.HandleRead({2}, payload), 3);
    EXPECT_EQ(log.HandleRead({}, payload), 3);

    // Records of 7 + 16 bytes, the frame's first data byte numbering them.
    auto frame = [](unsigned n) {
        ByteVec f(16, 0xAA);
        f[0] = 1;
        f[1] = 3;
        f[2] = static_cast<unsigned char>(n);
        f[3] = static_cast<unsigned char>(n >> 8);
        return f;
    };
    unsigned n = 0;
    for (; n < 20; ++n)
        log.Record(CardTrafficLog::Received, frame(n), n);
    ByteVec stream;
    ASSERT_EQ(log.HandleRead({1}, stream), 0);
    ASSERT_EQ(stream.size(), CardTrafficLog::maxChunk); // ends inside record 10
    for (; n < 2000; ++n)
        log.Record(CardTrafficLog::Sent, frame(n), n);
    EXPECT_LE(log.Size(), CardTrafficLog::capacity);
    for (;;) {
        ByteVec chunk;
        ASSERT_EQ(log.HandleRead({1}, chunk), 0);
        ASSERT_LE(chunk.size(), CardTrafficLog::maxChunk);
        if (chunk.empty())
            break;
        stream.insert(stream.end(), chunk.begin(), chunk.end());
    }

    const std::vector<Parsed> records = Parse(stream);
    ASSERT_GT(records.size(), 12u);
    for (unsigned k = 0; k <= 10; ++k)
        EXPECT_EQ(records[k].frame, frame(k));
    // Then one mark where records were dropped, with the time of the first one dropped.
    EXPECT_EQ(records[11].type, 1);
    EXPECT_TRUE(records[11].frame.empty());
    EXPECT_EQ(records[11].units, 11u * 125 / 2);
    // And the newest records, in order, up to the last.
    const std::size_t kept = records.size() - 12;
    for (std::size_t k = 0; k < kept; ++k)
        EXPECT_EQ(records[12 + k].frame, frame(unsigned(2000 - kept + k)));
}

} // namespace
