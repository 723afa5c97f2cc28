#include "widgets/TrafficLogDecoder.h"

#include <gtest/gtest.h>

#include "modbus/ModbusCrc.h"

namespace {

ByteVec WithCrc(ByteVec frame)
{
    AppendModbusCrc(frame);
    return frame;
}

ByteVec RecordBytes(unsigned char type, std::uint64_t units, const ByteVec& frame)
{
    ByteVec bytes{type,
                  static_cast<unsigned char>(units),
                  static_cast<unsigned char>(units >> 8),
                  static_cast<unsigned char>(units >> 16),
                  static_cast<unsigned char>(units >> 24),
                  static_cast<unsigned char>(units >> 32),
                  static_cast<unsigned char>(frame.size())};
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    return bytes;
}

struct FrameCase
{
    ByteVec frame; // without CRC
    const char* description;
};

// Decoded in this order by one decoder: coil and input reads pair their request with the
// reply that follows.
const FrameCase frameCases[] = {
    {{0x01, 0x01, 0x00, 0x0A, 0x00, 0x03}, "ReadCoils request: starting addr 10, 3 coil(s)"},
    {{0x01, 0x01, 0x02, 0x05, 0x00}, "ReadCoils invalid response data"},
    {{0x01, 0x01, 0x01, 0x05}, "ReadCoils reply: values 1 0 1 "},
    {{0x01, 0x01, 0x01, 0x05}, "ReadCoils invalid request data"},
    {{0x01, 0x02, 0x00, 0x00, 0x00, 0x0A}, "ReadDiscreteInputs request: starting addr 0, 10 input(s)"},
    {{0x01, 0x02, 0x02, 0xFF, 0x02}, "ReadDiscreteInputs reply: values 1 1 1 1 1 1 1 1 0 1 "},
    {{0x01, 0x02, 0x00, 0x00, 0x00, 0x04}, "ReadDiscreteInputs request: starting addr 0, 4 input(s)"},
    {{0x01, 0x82, 0x02}, "Exception reply: illegal data address"},
    // The exception cleared the pending read: this is a request again.
    {{0x01, 0x01, 0x00, 0x01, 0x00, 0x01}, "ReadCoils request: starting addr 1, 1 coil(s)"},
    {{0x01, 0x83, 0x02}, "Exception reply: illegal data address"},
    {{0x01, 0x83, 0x01}, "Exception reply: illegal function"},
    {{0x01, 0x83, 0x03}, "Exception reply: the value requested is not valid"},
    {{0x01, 0x83, 0x04}, "Exception reply: device failure"},
    {{0x01, 0x83, 0x06}, "Exception reply: device busy"},
    {{0x01, 0x83, 0x05}, "Exception reply: unknown Modbus error"},
    {{0x01, 0x83, 0x0B}, "Exception reply: unknown Modbus error"},
    {{0x01, 0x83}, "Exception reply: no exception code present"},
    {{0x01, 0x03, 0x00, 0x64, 0x00, 0x02},
     "ReadHoldingRegisters request: starting addr 100, 2 register(s)"},
    {{0x01, 0x03, 0x04, 0x00, 0x01, 0x01, 0x00}, "ReadHoldingRegisters reply: values 1  256  "},
    {{0x01, 0x04, 0x04, 0x00, 0x01}, "ReadInputRegisters invalid data"},
    {{0x01, 0x04, 0x02, 0xFF, 0xFF}, "ReadInputRegisters reply: values 65535  "},
    {{0x01, 0x05, 0x00, 0x07, 0xFF, 0x00}, "WriteSingleCoil req/reply: coil address 7 = 1"},
    {{0x01, 0x05, 0x00, 0x07, 0x00, 0x00}, "WriteSingleCoil req/reply: coil address 7 = 0"},
    {{0x01, 0x05, 0x00, 0x07, 0x12, 0x34}, "WriteSingleCoil invalid data"},
    {{0x01, 0x06, 0x00, 0x10, 0x01, 0xF4}, "WriteSingleRegister req/reply: holding-reg 16 = 500"},
    {{0x01, 0x06, 0x00, 0x10, 0x01}, "WriteSingleRegister invalid data"},
    {{0x01, 0x0F, 0x00, 0x14, 0x00, 0x03, 0x01, 0x05},
     "WriteMultipleCoils request: coil 20 = 1,  coil 21 = 0,  coil 22 = 1"},
    {{0x01, 0x0F, 0x00, 0x14, 0x00, 0x03},
     "WriteMultipleCoils reply: starting addr 20, 3 coil(s) written"},
    {{0x01, 0x0F, 0x00, 0x14, 0x00, 0x03, 0x02, 0x05}, "WriteMultipleCoils invalid data"},
    {{0x01, 0x10, 0x00, 0x0A, 0x00, 0x02, 0x04, 0x00, 0x01, 0x00, 0x02},
     "WriteMultipleRegisters request: reg 10 = 1,  reg 11 = 2"},
    {{0x01, 0x10, 0x00, 0x0A, 0x00, 0x02},
     "WriteMultipleRegisters reply: starting addr 10, 2 register(s) written"},
    {{0x01, 0x10, 0x00, 0x0A, 0x00, 0x03, 0x04, 0x00, 0x01, 0x00, 0x02},
     "WriteMultipleRegisters invalid data"},
    {{0x01, 0x64, 0x03, 0x00, 0x15, 0x01}, ""},
};

TEST(TrafficLogDecoderTest, DescribesEveryFunctionCodeAndException)
{
    TrafficLogDecoder decoder;
    for (const FrameCase& c : frameCases) {
        const ByteVec frame = WithCrc(c.frame);
        EXPECT_EQ(decoder.DescribeFrame(frame).toStdString(), c.description)
            << "frame of " << frame.size() << " bytes, function " << int(frame[1]);
    }
    EXPECT_EQ(decoder.DescribeFrame({0x01, 0x03, 0x00}).toStdString(), "invalid message");
}

TEST(TrafficLogDecoderTest, RowCellsOfEachRecordType)
{
    struct Case
    {
        unsigned char type;
        const char* typeText;
        const char* slave;
        const char* description;
    };
    const Case cases[] = {
        {1, "Err", "", "Frames have been missed"},
        {2, "RX", "1", "WriteSingleRegister req/reply: holding-reg 16 = 500"},
        {3, "TX", "1", "WriteSingleRegister req/reply: holding-reg 16 = 500"},
        {4, "Err", "", "Connected card failed to respond to a message"},
        {5, "Err", "", "Frame being received is too long"},
        {6, "Err", "", "An error occurred inside the frame (checksum, timing error, etc)"},
        {0, "Err", "", "Unknown error"},
        {9, "Err", "", "Unknown error"},
    };
    TrafficLogDecoder decoder;
    TrafficRecord record;
    record.frame = {0x01, 0x06, 0x00, 0x10, 0x01, 0xF4, 0xAB, 0x0C};
    for (const Case& c : cases) {
        record.type = c.type;
        TrafficLogDecoder::Row row;
        decoder.DescribeTrafficRecord(record, 0, row);
        EXPECT_EQ(row.cells[TrafficLogDecoder::TypeColumn].toStdString(), c.typeText);
        EXPECT_EQ(row.cells[TrafficLogDecoder::SlaveColumn].toStdString(), c.slave);
        EXPECT_EQ(row.cells[TrafficLogDecoder::DescColumn].toStdString(), c.description);
        EXPECT_EQ(row.cells[TrafficLogDecoder::FrameColumn].toStdString(),
                  "01 06 00 10 01 f4 ab 0c ");
    }
    // A received record without a frame has no slave.
    record.type = 2;
    record.frame.clear();
    TrafficLogDecoder::Row row;
    decoder.DescribeTrafficRecord(record, 0, row);
    EXPECT_EQ(row.cells[TrafficLogDecoder::SlaveColumn], "");
    EXPECT_EQ(row.cells[TrafficLogDecoder::DescColumn], "invalid message");
}

TEST(TrafficLogDecoderTest, RecordSplitAcrossRepliesIsDecodedOnceWhole)
{
    const ByteVec frame = WithCrc({0x01, 0x04, 0x00, 0x00, 0x00, 0x02});
    ByteVec stream = RecordBytes(2, 62500, frame); // 1 s
    const ByteVec second = RecordBytes(3, 0xFFFFFFFFFFull, {});
    stream.insert(stream.end(), second.begin(), second.end());

    // Every split point, including inside the header.
    for (std::size_t split = 0; split <= stream.size(); ++split) {
        TrafficLogDecoder decoder;
        std::vector<TrafficRecord> records;
        decoder.ParseTrafficRecords(stream.data(), split, records);
        const std::size_t firstDone = records.size();
        const std::size_t expected = split == stream.size() ? 2 : split >= 7 + frame.size();
        EXPECT_EQ(firstDone, expected) << "split " << split;
        decoder.ParseTrafficRecords(stream.data() + split, stream.size() - split, records);
        ASSERT_EQ(records.size(), 2u) << "split " << split;
        EXPECT_EQ(decoder.TailSize(), 0u);
        EXPECT_EQ(records[0].type, 2);
        EXPECT_EQ(records[0].seconds, 1u);
        EXPECT_EQ(records[0].microseconds, 0u);
        EXPECT_EQ(records[0].frame, frame);
        // All 40 bits of the time: (2^40 - 1) x 16 us.
        EXPECT_EQ(records[1].seconds, 17592186u);
        EXPECT_EQ(records[1].microseconds, 44400u);
        EXPECT_TRUE(records[1].frame.empty());
    }
}

TEST(TrafficLogDecoderTest, ArbitraryBytesNeverGrowTheTailPastOneRecord)
{
    TrafficLogDecoder decoder;
    std::vector<TrafficRecord> records;
    std::uint32_t noise = 7;
    ByteVec chunk;
    for (int reply = 0; reply < 2000; ++reply) {
        chunk.resize(reply % 250);
        for (unsigned char& b : chunk) {
            noise = noise * 1103515245u + 12345u;
            b = static_cast<unsigned char>(noise >> 16);
        }
        decoder.ParseTrafficRecords(chunk.data(), chunk.size(), records);
        ASSERT_LT(decoder.TailSize(), 7u + 255u);
        for (const TrafficRecord& r : records)
            ASSERT_LE(r.frame.size(), 255u);
        records.clear();
    }
}

TEST(TrafficLogDecoderTest, TimesFollowTheCardClockAndResetWhenItGoesBack)
{
    TrafficLogDecoder decoder;
    TrafficLogDecoder::Row row;
    TrafficRecord record;
    record.type = 1;
    const std::int64_t tenOClock = 10 * 3600000;

    record.seconds = 100;
    EXPECT_FALSE(decoder.DescribeTrafficRecord(record, tenOClock, row));
    EXPECT_EQ(row.cells[TrafficLogDecoder::TimeColumn], "10:00:00.000");
    EXPECT_EQ(row.cells[TrafficLogDecoder::DeltaColumn], "");

    record.seconds = 101;
    record.microseconds = 250016;
    EXPECT_FALSE(decoder.DescribeTrafficRecord(record, tenOClock + 99999, row));
    EXPECT_EQ(row.cells[TrafficLogDecoder::TimeColumn], "10:00:01.250");
    EXPECT_EQ(row.cells[TrafficLogDecoder::DeltaColumn], "1.250");

    // The card restarted: anchored anew at the wall clock, no delta.
    record.seconds = 3;
    record.microseconds = 0;
    EXPECT_TRUE(decoder.DescribeTrafficRecord(record, tenOClock + 5000, row));
    EXPECT_EQ(row.cells[TrafficLogDecoder::TimeColumn], "10:00:05.000");
    EXPECT_EQ(row.cells[TrafficLogDecoder::DeltaColumn], "");

    record.seconds = 4;
    EXPECT_FALSE(decoder.DescribeTrafficRecord(record, tenOClock, row));
    EXPECT_EQ(row.cells[TrafficLogDecoder::DeltaColumn], "1.000");

    EXPECT_EQ(TrafficLogDecoder::TimeOfDayText(86400000 + 3723004), "01:02:03.004");
}

} // namespace
