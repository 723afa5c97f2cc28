#include <atomic>
#include <cmath>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "simulator/DEDOCardSimulator.h"
#include "tests/simulator/SimulatorClient.h"

namespace {

typedef SimulatorClient C;

ByteVec Bytes(const std::string& text)
{
    return ByteVec(text.begin(), text.end());
}

ByteVec Concat(ByteVec a, const ByteVec& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

ByteVec Padded(const std::string& text, std::size_t size)
{
    ByteVec bytes = Bytes(text);
    bytes.resize(size, 0);
    return bytes;
}

float FloatAt(const ByteVec& bytes, std::size_t offset)
{
    std::uint32_t bits = (std::uint32_t(bytes[offset]) << 24) |
                         (std::uint32_t(bytes[offset + 1]) << 16) |
                         (std::uint32_t(bytes[offset + 2]) << 8) | bytes[offset + 3];
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

class DEDOCardSimulatorTest : public ::testing::Test
{
protected:
    DEDOCardSimulatorTest()
    {
        DEDOCardSimulator::ResetSharedStores();
        sim.SetClock([this] { return nowMs.load(); });
    }

    C::Reply Ask(unsigned char functionCode, const ByteVec& data)
    {
        return client.Exchange(functionCode, data);
    }

    // The payload of a successful vendor reply; fails the test on anything else.
    ByteVec Vendor(unsigned subCommand, const ByteVec& arguments = ByteVec())
    {
        auto reply = Ask(100, C::Vendor(subCommand, arguments));
        EXPECT_EQ(reply.functionCode, 100) << "sub-command " << subCommand;
        if (reply.functionCode != 100 || reply.data.size() < 3)
            return ByteVec();
        EXPECT_EQ(reply.data[0], reply.data.size() - 1);
        EXPECT_EQ(reply.data[1], subCommand >> 8);
        EXPECT_EQ(reply.data[2], subCommand & 0xFF);
        return ByteVec(reply.data.begin() + 3, reply.data.end());
    }

    bool VendorRefused(unsigned subCommand, const ByteVec& arguments, unsigned char code)
    {
        return IsException(Ask(100, C::Vendor(subCommand, arguments)), 100, code);
    }

    void WriteNote(unsigned index, const std::vector<ByteVec>& pieces)
    {
        Vendor(13, {static_cast<unsigned char>(index >> 8), static_cast<unsigned char>(index)});
        for (const auto& piece : pieces)
            Vendor(14, piece);
        Vendor(14);
    }

    ByteVec ReadNote(unsigned index)
    {
        Vendor(11, {static_cast<unsigned char>(index >> 8), static_cast<unsigned char>(index)});
        ByteVec text;
        for (int guard = 0; guard < 10; ++guard) {
            ByteVec piece = Vendor(12);
            if (piece.empty())
                return text;
            text.insert(text.end(), piece.begin(), piece.end());
        }
        ADD_FAILURE() << "note read never ended";
        return text;
    }

    std::atomic<std::uint64_t> nowMs{3600 * 1000};
    DEDOCardSimulator sim;
    SimulatorClient client{sim};
};

TEST_F(DEDOCardSimulatorTest, IdentityRegisters)
{
    struct
    {
        unsigned address;
        ByteVec value;
    } const cases[] = {
        {910, {0x00, 0x04}}, {901, {0x00, 0x01}}, {902, {0x00, 0xEA}},   {903, {0x00, 0x01}},
        {904, {0x5D, 0xC0}}, {909, {0x00, 0x01}}, {911, {0x00, 0x01}},   {65433, {0x00, 0x09}},
        {907, {0xEC, 0x78}}, {900, {0x00, 0x00}},
    };
    for (const auto& c : cases) {
        ByteVec expected{0x02};
        expected.insert(expected.end(), c.value.begin(), c.value.end());
        EXPECT_EQ(Ask(4, C::AddressAndCount(c.address, 1)).data, expected) << c.address;
    }
    EXPECT_EQ(Ask(2, C::AddressAndCount(908, 1)).data, (ByteVec{0x01, 0x01}));
    EXPECT_EQ(Ask(1, C::AddressAndCount(912, 1)).data, (ByteVec{0x01, 0x01}));
}

TEST_F(DEDOCardSimulatorTest, PointTables)
{
    ByteVec label{40};
    auto first = Padded("Input 1", 40);
    label.insert(label.end(), first.begin(), first.end());
    EXPECT_EQ(Ask(3, C::AddressAndCount(9200, 20)).data, label);

    label = {40};
    auto last = Padded("Output 24", 40);
    label.insert(label.end(), last.begin(), last.end());
    EXPECT_EQ(Ask(3, C::AddressAndCount(9273, 20)).data, label);

    // All 24 output values as one bulk float read; profile ids as 16-bit words.
    auto values = Ask(3, C::AddressAndCount(9000, 48));
    EXPECT_EQ(values.data, Concat({96}, ByteVec(96, 0)));
    EXPECT_EQ(Ask(3, C::AddressAndCount(9150, 24)).data, Concat({48}, ByteVec(48, 0)));
    // Nothing beyond the 24 points.
    EXPECT_FALSE(sim.HoldingRegister(9224));
}

TEST_F(DEDOCardSimulatorTest, ScalingProfileCatalogue)
{
    auto name = [this](unsigned id) {
        auto reply = Ask(4, C::AddressAndCount(9600 + id, 16));
        return ByteVec(reply.data.begin() + 1, reply.data.end());
    };
    auto code = [this](unsigned id) {
        auto reply = Ask(4, C::AddressAndCount(9800 + id, 4));
        return ByteVec(reply.data.begin() + 1, reply.data.end());
    };
    EXPECT_EQ(name(0), Padded("Voltage 0-10V <-> 0-100%", 32));
    EXPECT_EQ(code(0), Padded("C26", 8));
    EXPECT_EQ(name(24), Padded("Resistance in Ohms - HIGH", 32));
    EXPECT_EQ(code(24), Padded("B21", 8));
    EXPECT_EQ(name(78), Padded("PTC Staefa T1 using QRTZ", 32));
    EXPECT_EQ(name(67), Padded("Thermistor Satchwell DD/DR HIGH", 32));
    // Current (kind 1) and low-range (kind 2) entries are not published, nor are gaps.
    for (unsigned id : {12u, 22u, 26u, 34u, 68u, 1u, 79u, 80u, 119u}) {
        EXPECT_EQ(name(id), ByteVec(32, 0)) << id;
        EXPECT_EQ(code(id), ByteVec(8, 0)) << id;
    }
    unsigned published = 0;
    for (unsigned id = 0; id < 120; ++id)
        published += sim.InputRegister(static_cast<std::uint16_t>(9600 + id)) ? 1 : 0;
    EXPECT_EQ(published, 33u);
}

TEST_F(DEDOCardSimulatorTest, VendorFraming)
{
    // Length byte must count exactly what follows it.
    EXPECT_TRUE(IsException(Ask(100, {0x03, 0x00, 0x16}), 100, 3));
    EXPECT_TRUE(IsException(Ask(100, {0x02, 0x00}), 100, 3));
    EXPECT_TRUE(IsException(Ask(100, {0x01, 0x00, 0x16, 0x00}), 100, 3));
    EXPECT_TRUE(VendorRefused(15, {15}, 1));
    EXPECT_TRUE(VendorRefused(1, {}, 1));
    EXPECT_TRUE(VendorRefused(0x0116, {}, 1));
    EXPECT_EQ(Vendor(9, {0x00, 0x00}), ByteVec());
    EXPECT_EQ(Vendor(22), Bytes("Card simulation with Modbus address of 1"));
    // The whole frame of sub-command 22, as the master sees it.
    sim.Transmit(C::Frame(1, 100, {0x02, 0x00, 0x16}));
    auto frame = client.NextFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->size(), 2u + 3u + 40u + 2u);
    EXPECT_EQ((*frame)[2], 42);
}

TEST_F(DEDOCardSimulatorTest, NoteWrittenAndReadBack)
{
    EXPECT_EQ(Vendor(12), ByteVec()); // no read open yet
    WriteNote(3, {Bytes("hello")});
    EXPECT_EQ(Vendor(11, {0x00, 0x03}), ByteVec());
    EXPECT_EQ(Vendor(12), Bytes("hello"));
    EXPECT_EQ(Vendor(12), ByteVec());
    EXPECT_EQ(ReadNote(2), ByteVec());
    EXPECT_EQ(ReadNote(4), ByteVec());

    // A shorter note written over a longer one ends at its own terminator.
    WriteNote(3, {Bytes("hi")});
    EXPECT_EQ(ReadNote(3), Bytes("hi"));
    // A 0xFF byte ends a note like a zero byte.
    WriteNote(5, {Bytes("ab\xFF" "cd")});
    EXPECT_EQ(ReadNote(5), Bytes("ab"));
}

TEST_F(DEDOCardSimulatorTest, NoteSizesAtTheBoundaries)
{
    const ByteVec text128(128, 'a'), text129(129, 'b');
    WriteNote(0, {text128});
    EXPECT_EQ(ReadNote(0), text128);
    WriteNote(1, {ByteVec(text129.begin(), text129.begin() + 128), ByteVec(1, 'b')});
    EXPECT_EQ(ReadNote(1), text129);

    // A note may fill all 1024 bytes, with no terminator, and ends at its note's end.
    WriteNote(46, {ByteVec(8, 'y')});
    ByteVec full;
    std::vector<ByteVec> pieces;
    for (unsigned i = 0; i < 8; ++i) {
        pieces.push_back(ByteVec(128, static_cast<unsigned char>('A' + i)));
        full.insert(full.end(), pieces.back().begin(), pieces.back().end());
    }
    WriteNote(45, pieces);
    EXPECT_EQ(ReadNote(45), full);
    EXPECT_EQ(ReadNote(46), ByteVec(8, 'y'));

    // One byte more does not fit; what was sent before stays stored.
    Vendor(13, {0x00, 0x07});
    for (unsigned i = 0; i < 8; ++i)
        Vendor(14, ByteVec(128, 'z'));
    EXPECT_TRUE(VendorRefused(14, {'!'}, 3));
    Vendor(14);
    EXPECT_EQ(ReadNote(7), ByteVec(1024, 'z'));

    // A single piece may not exceed what one reply frame could carry back.
    Vendor(13, {0x00, 0x08});
    EXPECT_TRUE(VendorRefused(14, ByteVec(250, 'q'), 3));
    Vendor(14, ByteVec(249, 'q'));
    Vendor(14);
    EXPECT_EQ(ReadNote(8), ByteVec(249, 'q'));
}

TEST_F(DEDOCardSimulatorTest, NoteCommandsCheckTheirArgumentsAndStayInsideTheStore)
{
    EXPECT_TRUE(VendorRefused(11, {0x00}, 3));
    EXPECT_TRUE(VendorRefused(11, {0x00, 0x00, 0x00}, 3));
    EXPECT_TRUE(VendorRefused(12, {0x00}, 3));
    EXPECT_TRUE(VendorRefused(13, {}, 3));
    EXPECT_TRUE(VendorRefused(14, {'x'}, 3)); // no write open
    EXPECT_TRUE(VendorRefused(13, {0x00, 48}, 3));
    EXPECT_TRUE(VendorRefused(14, {'x'}, 3)); // still none open

    WriteNote(47, {Bytes("last")});
    EXPECT_EQ(ReadNote(47), Bytes("last"));

    // A refused select leaves an open read where it was, on its own note.
    WriteNote(3, {ByteVec(150, 'n'), ByteVec(150, 'n')});
    Vendor(11, {0x00, 0x03});
    EXPECT_TRUE(VendorRefused(11, {0xFF, 0xFF}, 3));
    EXPECT_EQ(Vendor(12), ByteVec(249, 'n'));
    EXPECT_TRUE(VendorRefused(11, {0x00, 0x30}, 3));
    EXPECT_EQ(Vendor(12), ByteVec(51, 'n'));
    EXPECT_EQ(Vendor(12), ByteVec());

    // Likewise an open write stays on its note after a refused start.
    Vendor(13, {0x00, 0x02});
    Vendor(14, Bytes("ab"));
    EXPECT_TRUE(VendorRefused(13, {0xFF, 0xFF}, 3));
    Vendor(14, Bytes("cd"));
    Vendor(14);
    EXPECT_EQ(ReadNote(2), Bytes("abcd"));
}

TEST_F(DEDOCardSimulatorTest, NotesOutliveTheSimulatedCard)
{
    WriteNote(0, {Bytes("kept note")});
    {
        // A card simulated again later (or in a second window) sees the same notes.
        DEDOCardSimulator again;
        SimulatorClient againClient(again);
        againClient.Send(100, C::Vendor(11, {0x00, 0x00}));
        EXPECT_EQ(C::Parse(againClient.NextFrame()).functionCode, 100);
        againClient.Send(100, C::Vendor(12));
        EXPECT_EQ(C::Parse(againClient.NextFrame()).data,
                  (ByteVec{0x0B, 0x00, 0x0C, 'k', 'e', 'p', 't', ' ', 'n', 'o', 't', 'e'}));
    }
    EXPECT_EQ(ReadNote(0), Bytes("kept note"));
}

TEST_F(DEDOCardSimulatorTest, LiveData)
{
    const std::uint32_t tick = 72000; // nowMs / 50
    auto checkSamples = [](const ByteVec& payload, std::size_t offset, std::uint32_t firstTick) {
        for (std::size_t pos = offset, t = firstTick; pos < payload.size(); pos += 4, ++t)
            EXPECT_EQ(FloatAt(payload, pos), DEDOCardSimulator::LiveSample(t)) << "tick " << t;
    };

    // First request: the gap marker, then the latest 31 samples.
    ByteVec payload = Vendor(16, {1, 5});
    ASSERT_EQ(payload.size(), 1u + 32 * 4);
    EXPECT_EQ(payload[0], 32);
    EXPECT_EQ(ByteVec(payload.begin() + 1, payload.begin() + 5), ByteVec(4, 0xFF));
    EXPECT_TRUE(std::isnan(FloatAt(payload, 1)));
    checkSamples(payload, 5, tick - 30);

    // 50 ms later: one new sample, twice.
    nowMs += 50;
    payload = Vendor(16, {1, 5});
    ASSERT_EQ(payload.size(), 5u);
    EXPECT_EQ(payload[0], 1);
    checkSamples(payload, 1, tick + 1);
    nowMs += 50;
    payload = Vendor(16, {1, 5});
    ASSERT_EQ(payload.size(), 5u);
    checkSamples(payload, 1, tick + 2);

    // Within the same tick nothing is new: no samples, and no false gap.
    nowMs += 20;
    EXPECT_EQ(Vendor(16, {1, 5}), ByteVec{0});

    // 32 ticks due is still a plain list; 33 is a gap.
    nowMs += 32 * 50;
    payload = Vendor(16, {1, 5});
    EXPECT_EQ(payload[0], 32);
    checkSamples(payload, 1, tick + 3);
    nowMs += 33 * 50;
    payload = Vendor(16, {1, 5});
    EXPECT_EQ(payload[0], 32);
    EXPECT_TRUE(std::isnan(FloatAt(payload, 1)));
    checkSamples(payload, 5, tick + 34 + 33 - 30);

    // Each point, and each direction, keeps its own cursor.
    EXPECT_EQ(Vendor(16, {0, 5})[0], 32);
    EXPECT_EQ(Vendor(16, {1, 6})[0], 32);
    EXPECT_EQ(Vendor(16, {2, 5}), ByteVec{0}); // any non-zero byte means an input

    EXPECT_TRUE(VendorRefused(16, {1}, 3));
    EXPECT_TRUE(VendorRefused(16, {1, 5, 0}, 3));
}

TEST_F(DEDOCardSimulatorTest, LiveSampleFollowsTheTwoSineWaves)
{
    EXPECT_FLOAT_EQ(DEDOCardSimulator::LiveSample(0), 5.0f);
    // t = 2500 ms: a quarter of the slow wave, ten whole periods of the fast one.
    EXPECT_NEAR(DEDOCardSimulator::LiveSample(50), 10.0f, 1e-4);
    // t = 50 ms: the fast wave a fifth of the way through its period.
    const double pi = 3.14159265358979323846;
    EXPECT_NEAR(DEDOCardSimulator::LiveSample(1),
                5 + 5 * std::sin(2 * pi * 50 / 10000) + 0.5 * std::sin(2 * pi * 50 / 250), 1e-5);
}

TEST_F(DEDOCardSimulatorTest, NamedVariables)
{
    EXPECT_EQ(Vendor(19, Bytes("LiveDataSampleIntervalMsecs")),
              (ByteVec{0x01, 0x42, 0x48, 0x00, 0x00}));
    EXPECT_EQ(Vendor(19, Bytes("HistoricalDataSampleIntervalMsecs")),
              (ByteVec{0x01, 0x49, 0x5B, 0xBA, 0x00}));
    nowMs = 123456789;
    EXPECT_EQ(Vendor(19, Bytes("SecondsSinceReset")), (ByteVec{0x03, 0x00, 0x01, 0xE2, 0x40}));
    // The name's terminator may travel with it.
    EXPECT_EQ(Vendor(19, Bytes(std::string("SecondsSinceReset") + '\0'))[0], 0x03);

    for (const char* unknown : {"", "Live", "SecondsSinceResetX", "NoSuchVariable"})
        EXPECT_TRUE(VendorRefused(19, Bytes(unknown), 2)) << unknown;
}

TEST_F(DEDOCardSimulatorTest, TrafficLogRecord)
{
    EXPECT_EQ(Vendor(21, {0}), ByteVec());
    EXPECT_EQ(Vendor(21, {1, 1}), ByteVec());
    EXPECT_EQ(Vendor(21), ByteVec());

    nowMs = 1000; // 62500 units of 16 us
    EXPECT_EQ(Vendor(21, {1}), (ByteVec{0x02, 0x24, 0xF4, 0x00, 0x00, 0x00, 0x05, 0x01, 0x04,
                                        0x00, 0x00, 0x00}));
    // After 27 hours the time needs its fifth byte.
    nowMs = 100000000; // 6 250 000 000 units = 0x1 7487 6E80
    EXPECT_EQ(Vendor(21, {1}), (ByteVec{0x02, 0x80, 0x6E, 0x87, 0x74, 0x01, 0x05, 0x01, 0x04,
                                        0x00, 0x00, 0x00}));
}

} // namespace
