#include <gtest/gtest.h>

#include "simulator/LineSchedule.h"

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

const LineSchedule::TimePoint t0 = LineSchedule::TimePoint() + std::chrono::seconds(100);
const ByteVec frame{1, 2, 3, 4, 5, 6, 7, 8};

TEST(LineScheduleTest, ByteTimesOfCommonRates)
{
    EXPECT_EQ(LineSchedule::ByteTime(115200).count(), 86805); // ns: 10 bits per byte
    EXPECT_EQ(LineSchedule::ByteTime(9600).count(), 1041666);
}

TEST(LineScheduleTest, BytesArriveOneByteTimeApartAndNeverEarly)
{
    LineSchedule line(microseconds(100), microseconds(0));
    line.Add(t0, frame.data(), frame.size());
    EXPECT_EQ(line.NextDue(), t0 + microseconds(100));
    // Times at which to look, and how many bytes have arrived by then in all.
    const struct
    {
        microseconds at;
        std::size_t arrived;
    } steps[] = {{microseconds(99), 0},  {microseconds(100), 1}, {microseconds(350), 3},
                 {microseconds(799), 7}, {microseconds(800), 8}, {microseconds(5000), 8}};
    ByteVec all;
    for (const auto& step : steps) {
        const ByteVec due = line.TakeDue(t0 + step.at);
        all.insert(all.end(), due.begin(), due.end());
        EXPECT_EQ(all.size(), step.arrived) << step.at.count();
    }
    EXPECT_EQ(all, frame);
    EXPECT_TRUE(line.IsEmpty());
}

TEST(LineScheduleTest, ABusyLineQueuesWhatIsAddedMeanwhile)
{
    LineSchedule line(microseconds(100), microseconds(0));
    line.Add(t0, frame.data(), 4);                         // on the line until t0 + 400 us
    line.Add(t0 + microseconds(150), frame.data() + 4, 4); // waits for the first four
    EXPECT_EQ(line.TakeDue(t0 + microseconds(499)).size(), 4u);
    EXPECT_EQ(line.TakeDue(t0 + microseconds(500)).size(), 1u);
    EXPECT_EQ(line.WakeAt(milliseconds(1)), t0 + microseconds(800));
    EXPECT_EQ(line.TakeDue(t0 + microseconds(800)).size(), 3u);
    // An idle line carries the next byte straight away.
    line.Add(t0 + milliseconds(10), frame.data(), 1);
    EXPECT_EQ(line.NextDue(), t0 + milliseconds(10) + microseconds(100));
}

TEST(LineScheduleTest, LatencyDelaysOnlyWhatStartsOnAnIdleLine)
{
    LineSchedule line(microseconds(100), milliseconds(2));
    line.Add(t0, frame.data(), 2);
    EXPECT_EQ(line.NextDue(), t0 + milliseconds(2) + microseconds(100));
    line.Add(t0 + microseconds(10), frame.data(), 2); // still behind the first two
    EXPECT_EQ(line.WakeAt(milliseconds(10)), t0 + milliseconds(2) + microseconds(400));
    EXPECT_TRUE(line.TakeDue(t0 + milliseconds(2)).empty());
    EXPECT_EQ(line.TakeDue(t0 + milliseconds(3)).size(), 4u);
}

TEST(LineScheduleTest, LongFramesArriveInPiecesAndUnpacedLinesAtOnce)
{
    LineSchedule line(microseconds(100), microseconds(0));
    const ByteVec reply(256, 0x55);
    line.Add(t0, reply.data(), reply.size());
    // Woken a millisecond after the first byte, not only after the last.
    EXPECT_EQ(line.WakeAt(milliseconds(1)), t0 + microseconds(1100));

    LineSchedule unpaced(LineSchedule::Duration(0), microseconds(0));
    unpaced.Add(t0, reply.data(), reply.size());
    EXPECT_EQ(unpaced.TakeDue(t0), reply);
}

} // namespace
