#include "modbus/ModbusMaster.h"

#include <functional>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "comms/ExceptionWithString.h"
#include "modbus/ModbusCrc.h"
#include "modbus/ModbusErrors.h"
#include "tests/support/FutureWait.h"
#include "tests/support/ScriptedComms.h"

namespace {

using FutureWait::ErrorAs;
using FutureWait::Ready;

std::string Describe(const ByteVec& bytes)
{
    std::ostringstream text;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        text << (i ? " " : "") << std::hex << std::uppercase << (bytes[i] < 16 ? "0" : "")
             << unsigned(bytes[i]);
    return text.str();
}

std::string Describe(const std::vector<bool>& bits)
{
    std::string text;
    for (bool bit : bits)
        text += bit ? '1' : '0';
    return text;
}

std::string Describe(const std::string& text)
{
    return "\"" + text + "\"";
}

template <typename T>
std::string Describe(const T& value)
{
    std::ostringstream text;
    text << value;
    return text.str();
}

template <typename T>
std::string Describe(const std::vector<T>& values)
{
    std::string text;
    for (std::size_t i = 0; i < values.size(); ++i)
        text += (i ? " " : "") + Describe(values[i]);
    return text;
}

// What a future ends in: its value described, "ok" for void, or "error: " and the text of a
// Modbus error other than a time-out.
template <typename T>
std::string Outcome(boost::future<T> future)
{
    if (!Ready(future))
        return "not ready";
    try {
        if constexpr (std::is_void_v<T>) {
            future.get();
            return "ok";
        } else {
            return Describe(future.get());
        }
    } catch (const Modbus::TimeoutError&) {
        return "time-out";
    } catch (const Modbus::Error& error) {
        return std::string("error: ") + error.what();
    }
}

ByteVec Concat(ByteVec head, const ByteVec& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

class ModbusMasterTest : public ::testing::Test
{
protected:
    // Function code and data of the i-th frame transmitted.
    ByteVec Sent(std::size_t i) const
    {
        const ByteVec frame = comms.Transmitted().at(i);
        return ByteVec(frame.begin() + 1, frame.end() - 2);
    }

    void AnswerEveryRequestWith(const ByteVec& replyData)
    {
        comms.SetResponder([replyData](const ByteVec& frame) {
            return ScriptedComms::Chunks{ScriptedComms::Frame(frame[0], frame[1], replyData)};
        });
    }

    ScriptedComms comms;
    ModbusMasterDatalink link{&comms};
    ModbusMaster master{link};
};

struct RequestCase
{
    const char* name;
    std::function<void(ModbusMaster&)> issue;
    ByteVec expected; // function code and data
};

TEST_F(ModbusMasterTest, BuildsTheRequestOfEveryOperation)
{
    // Every request is refused by the node, so each completes before the next is issued.
    comms.SetResponder([](const ByteVec& frame) {
        return ScriptedComms::Chunks{
            ScriptedComms::Frame(1, static_cast<unsigned char>(frame[1] | 0x80), {0x01})};
    });
    auto wait = [](auto future) { EXPECT_TRUE(Ready(future)); };
    const ByteVec label = Concat({'I', 'n', 'p', 'u', 't', ' ', '1'}, ByteVec(33, 0));
    const RequestCase cases[] = {
        {"float read", [&](ModbusMaster& m) { wait(m.ReadRegistersFloat(1, 9000, 3)); },
         {0x03, 0x23, 0x28, 0x00, 0x06}},
        {"float read, input", [&](ModbusMaster& m) { wait(m.ReadRegistersFloat(0, 9000, 1)); },
         {0x04, 0x23, 0x28, 0x00, 0x02}},
        {"register", [&](ModbusMaster& m) { wait(m.ReadRegister(1, 910)); },
         {0x03, 0x03, 0x8E, 0x00, 0x01}},
        {"input register", [&](ModbusMaster& m) { wait(m.ReadInputRegister(910)); },
         {0x04, 0x03, 0x8E, 0x00, 0x01}},
        {"holding register", [&](ModbusMaster& m) { wait(m.ReadHoldingRegister(590)); },
         {0x03, 0x02, 0x4E, 0x00, 0x01}},
        {"kind 2 is input", [&](ModbusMaster& m) { wait(m.ReadRegistersUInt16(2, 5, 4)); },
         {0x04, 0x00, 0x05, 0x00, 0x04}},
        {"int16s", [&](ModbusMaster& m) { wait(m.ReadRegistersInt16(1, 5, 4)); },
         {0x03, 0x00, 0x05, 0x00, 0x04}},
        {"uint32s", [&](ModbusMaster& m) { wait(m.ReadRegistersUInt32(0, 100, 2)); },
         {0x04, 0x00, 0x64, 0x00, 0x04}},
        {"float", [&](ModbusMaster& m) { wait(m.ReadFloat(1, 9000)); },
         {0x03, 0x23, 0x28, 0x00, 0x02}},
        {"odd byte count", [&](ModbusMaster& m) { wait(m.ReadRegistersAsData(1, 9200, 5)); },
         {0x03, 0x23, 0xF0, 0x00, 0x03}},
        {"string", [&](ModbusMaster& m) { wait(m.ReadRegistersAsString(1, 9200, 40)); },
         {0x03, 0x23, 0xF0, 0x00, 0x14}},
        {"coils", [&](ModbusMaster& m) { wait(m.ReadBits(true, 0, 10)); },
         {0x01, 0x00, 0x00, 0x00, 0x0A}},
        {"discrete input", [&](ModbusMaster& m) { wait(m.ReadBit(false, 908)); },
         {0x02, 0x03, 0x8C, 0x00, 0x01}},
        {"signed register", [&](ModbusMaster& m) { wait(m.WriteRegisterInt16(5, -2)); },
         {0x06, 0x00, 0x05, 0xFF, 0xFE}},
        {"register", [&](ModbusMaster& m) { wait(m.WriteRegisterUInt16(65432, 0x1234)); },
         {0x06, 0xFF, 0x98, 0x12, 0x34}},
        {"coil on", [&](ModbusMaster& m) { wait(m.WriteCoil(912, true)); },
         {0x05, 0x03, 0x90, 0xFF, 0x00}},
        {"coil off", [&](ModbusMaster& m) { wait(m.WriteCoil(912, false)); },
         {0x05, 0x03, 0x90, 0x00, 0x00}},
        {"float write", [&](ModbusMaster& m) { wait(m.WriteFloat(9000, 1.0f)); },
         {0x10, 0x23, 0x28, 0x00, 0x02, 0x04, 0x3F, 0x80, 0x00, 0x00}},
        {"uint32 write", [&](ModbusMaster& m) { wait(m.WriteUInt32(9000, 0x01020304)); },
         {0x10, 0x23, 0x28, 0x00, 0x02, 0x04, 0x01, 0x02, 0x03, 0x04}},
        {"data write",
         [&](ModbusMaster& m) { wait(m.WriteRegistersAsData(9200, {0x61, 0x62, 0x63, 0x00})); },
         {0x10, 0x23, 0xF0, 0x00, 0x02, 0x04, 0x61, 0x62, 0x63, 0x00}},
        {"label of 40",
         [&](ModbusMaster& m) { wait(m.WriteRegistersString(9200, "Input 1", 40)); },
         Concat({0x10, 0x23, 0xF0, 0x00, 0x14, 0x28}, label)},
        {"text of its own length",
         [&](ModbusMaster& m) { wait(m.WriteRegistersString(9200, "Pump2", 0)); },
         {0x10, 0x23, 0xF0, 0x00, 0x03, 0x06, 'P', 'u', 'm', 'p', '2', 0x00}},
        {"text cut to maxLen",
         [&](ModbusMaster& m) { wait(m.WriteRegistersString(9200, "Pump2", 2)); },
         {0x10, 0x23, 0xF0, 0x00, 0x01, 0x02, 'P', 'u'}},
        {"vendor, no args", [&](ModbusMaster& m) { wait(m.SendQelCommand(22)); },
         {0x64, 0x02, 0x00, 0x16}},
        {"vendor, args", [&](ModbusMaster& m) { wait(m.SendQelCommand(0x10B, {0x00, 0x03})); },
         {0x64, 0x04, 0x01, 0x0B, 0x00, 0x03}},
    };
    std::size_t index = 0;
    for (const RequestCase& c : cases) {
        SCOPED_TRACE(c.name);
        c.issue(master);
        ASSERT_EQ(comms.TransmitCount(), index + 1);
        EXPECT_EQ(Describe(Sent(index)), Describe(c.expected));
        ++index;
    }
}

struct ReplyCase
{
    const char* name;
    std::function<std::string(ModbusMaster&)> issue;
    ByteVec replyData;
    std::string expected;
};

TEST_F(ModbusMasterTest, ParsesAndChecksEveryReply)
{
    const ReplyCase cases[] = {
        {"three floats", [](ModbusMaster& m) { return Outcome(m.ReadRegistersFloat(1, 9000, 3)); },
         {0x0C, 0x3F, 0x80, 0, 0, 0xC0, 0x20, 0, 0, 0x42, 0xC8, 0, 0}, "1 -2.5 100"},
        {"floats, odd words", [](ModbusMaster& m) { return Outcome(m.ReadRegistersFloat(1, 0, 1)); },
         {0x06, 0, 0, 0, 0, 0, 0}, "error: reply data length for floats not multiple of 4"},
        {"one float", [](ModbusMaster& m) { return Outcome(m.ReadFloat(1, 9000)); },
         {0x04, 0x3F, 0x80, 0x00, 0x00}, "1"},
        {"register", [](ModbusMaster& m) { return Outcome(m.ReadInputRegister(910)); },
         {0x02, 0x00, 0x04}, "4"},
        {"register, trailing byte ignored",
         [](ModbusMaster& m) { return Outcome(m.ReadInputRegister(910)); },
         {0x02, 0x01, 0x02, 0x99}, "258"},
        {"register, wrong count", [](ModbusMaster& m) { return Outcome(m.ReadInputRegister(910)); },
         {0x04, 0x00, 0x01, 0x00, 0x02}, "error: ReadRegister: reply contents invalid"},
        {"uint16s", [](ModbusMaster& m) { return Outcome(m.ReadRegistersUInt16(1, 0, 2)); },
         {0x04, 0x00, 0x01, 0xFF, 0xFF}, "1 65535"},
        {"int16s", [](ModbusMaster& m) { return Outcome(m.ReadRegistersInt16(1, 0, 2)); },
         {0x04, 0x00, 0x01, 0xFF, 0xFE}, "1 -2"},
        {"more bytes than counted",
         [](ModbusMaster& m) { return Outcome(m.ReadRegistersUInt16(1, 0, 1)); },
         {0x02, 0x00, 0x01, 0x02}, "error: read-registers reply data length inconsistent"},
        {"uint16s, odd", [](ModbusMaster& m) { return Outcome(m.ReadRegistersUInt16(1, 0, 2)); },
         {0x03, 0x00, 0x01, 0x02},
         "error: read-registers reply data length for UINT16s not multiple of 2"},
        {"uint32s", [](ModbusMaster& m) { return Outcome(m.ReadRegistersUInt32(1, 0, 2)); },
         {0x08, 0x01, 0x02, 0x03, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}, "16909060 4294967295"},
        {"uint32s, odd words",
         [](ModbusMaster& m) { return Outcome(m.ReadRegistersUInt32(1, 0, 1)); },
         {0x02, 0x00, 0x01},
         "error: read-registers reply data length for UINT32s not multiple of 4"},
        {"raw data", [](ModbusMaster& m) { return Outcome(m.ReadRegistersAsData(1, 9200, 4)); },
         {0x04, 0x61, 0x62, 0x63, 0x00}, "61 62 63 00"},
        {"text to first zero",
         [](ModbusMaster& m) { return Outcome(m.ReadRegistersAsString(1, 9200, 6)); },
         {0x06, 'a', 'b', 0x00, 'x', 0x00, 0x00}, "\"ab\""},
        {"text without zero",
         [](ModbusMaster& m) { return Outcome(m.ReadRegistersAsString(1, 9200, 2)); },
         {0x02, 'h', 'i'}, "\"hi\""},
        {"ten coils", [](ModbusMaster& m) { return Outcome(m.ReadBits(true, 0, 10)); },
         {0x02, 0xFF, 0x02}, "1111111101"},
        {"coil count byte not trusted",
         [](ModbusMaster& m) { return Outcome(m.ReadBits(true, 0, 10)); }, {0x07, 0x05, 0xFE},
         "1010000001"},
        {"coils, extra byte", [](ModbusMaster& m) { return Outcome(m.ReadBits(true, 0, 10)); },
         {0x03, 0xFF, 0x02, 0x00}, "error: incorrect number of bytes returned for bools request"},
        {"one input", [](ModbusMaster& m) { return Outcome(m.ReadBit(false, 908)); },
         {0x01, 0x01}, "1"},
        {"register write", [](ModbusMaster& m) { return Outcome(m.WriteRegisterUInt16(5, 7)); },
         {0x00, 0x05, 0x00, 0x07}, "ok"},
        {"register write, long reply",
         [](ModbusMaster& m) { return Outcome(m.WriteRegisterUInt16(5, 7)); },
         {0x00, 0x05, 0x00, 0x07, 0x00},
         "error: Invalid response recieved from Write Registers request"},
        {"coil write", [](ModbusMaster& m) { return Outcome(m.WriteCoil(912, true)); },
         {0x03, 0x90, 0xFF, 0x00}, "ok"},
        {"coil write, not a bool", [](ModbusMaster& m) { return Outcome(m.WriteCoil(912, true)); },
         {0x03, 0x90, 0x12, 0x34}, "error: Non-bool response recieved from Write Bool request"},
        {"coil write, long reply", [](ModbusMaster& m) { return Outcome(m.WriteCoil(912, true)); },
         {0x03, 0x90, 0xFF, 0x00, 0x00},
         "error: Invalid response recieved from Write Bool request"},
        {"vendor payload", [](ModbusMaster& m) { return Outcome(m.SendQelCommand(22)); },
         {0x05, 0x00, 0x16, 0x41, 0x42, 0x43}, "41 42 43"},
        {"vendor, empty payload", [](ModbusMaster& m) { return Outcome(m.SendQelCommand(9)); },
         {0x02, 0x00, 0x09}, ""},
        {"vendor, length too small", [](ModbusMaster& m) { return Outcome(m.SendQelCommand(22)); },
         {0x02, 0x00, 0x16, 0x41}, "error: qel-command reply size mismatch"},
    };
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        AnswerEveryRequestWith(c.replyData);
        EXPECT_EQ(c.issue(master), c.expected);
    }
}

TEST_F(ModbusMasterTest, ShortRepliesKeepTheDatalinkWaiting)
{
    // A reply the parser finds too short is not an error: the datalink waits for the rest, so
    // with nothing more arriving the request ends in a time-out.
    link.SetReplyTimeoutMs(100);
    const ReplyCase cases[] = {
        {"registers", [](ModbusMaster& m) { return Outcome(m.ReadRegistersUInt16(1, 0, 1)); },
         {0x02, 0x00}, "time-out"},
        {"register", [](ModbusMaster& m) { return Outcome(m.ReadInputRegister(910)); },
         {0x02, 0x00}, "time-out"},
        {"bits", [](ModbusMaster& m) { return Outcome(m.ReadBits(true, 0, 10)); }, {0x02, 0xFF},
         "time-out"},
        {"register write", [](ModbusMaster& m) { return Outcome(m.WriteRegisterUInt16(5, 7)); },
         {0x00, 0x05, 0x00}, "time-out"},
        {"coil write", [](ModbusMaster& m) { return Outcome(m.WriteCoil(5, true)); },
         {0x00, 0x05, 0xFF}, "time-out"},
        {"vendor", [](ModbusMaster& m) { return Outcome(m.SendQelCommand(22)); },
         {0x05, 0x00, 0x16, 0x41}, "time-out"},
    };
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        AnswerEveryRequestWith(c.replyData);
        EXPECT_EQ(c.issue(master), c.expected);
    }
}

TEST_F(ModbusMasterTest, RegisterReplyWithAnEarlyCrcMatchCompletesWhenTheRestArrives)
{
    // 01 03 04 00 11 and its CRC look like a whole frame whose data is too short for a count of
    // 4; the real reply goes on with two more bytes of CRC.
    ByteVec reply{0x01, 0x03, 0x04, 0x00, 0x11};
    AppendModbusCrc(reply);
    AppendModbusCrc(reply);

    auto future = master.ReadRegistersAsData(1, 0, 4);
    ASSERT_TRUE(comms.WaitForTransmitted(1));
    comms.Emit(ByteVec(reply.begin(), reply.begin() + 7));
    ASSERT_TRUE(comms.WaitUntilDelivered());
    EXPECT_FALSE(future.is_ready());
    comms.Emit(ByteVec(reply.begin() + 7, reply.end()));
    ASSERT_TRUE(Ready(future));
    EXPECT_EQ(future.get(), ByteVec(reply.begin() + 3, reply.end() - 2));
}

TEST_F(ModbusMasterTest, EmptyAndOversizedReadsSendNothing)
{
    auto u16 = master.ReadRegistersUInt16(1, 0, 0);
    auto s16 = master.ReadRegistersInt16(1, 0, 0);
    auto floats = master.ReadRegistersFloat(1, 0, 0);
    auto u32 = master.ReadRegistersUInt32(1, 0, 0);
    ASSERT_TRUE(u16.is_ready() && s16.is_ready() && floats.is_ready() && u32.is_ready());
    EXPECT_TRUE(u16.get().empty());
    EXPECT_TRUE(s16.get().empty());
    EXPECT_TRUE(floats.get().empty());
    EXPECT_TRUE(u32.get().empty());

    for (unsigned short n : {0, 2001}) {
        SCOPED_TRACE(n);
        auto bits = master.ReadBits(true, 0, n);
        ASSERT_TRUE(bits.is_ready());
        auto error = ErrorAs<Modbus::Error>(bits);
        ASSERT_TRUE(error);
        EXPECT_STREQ(error->what(), "too few/many discrete vals in one go");
        EXPECT_EQ(error->Kind(), Modbus::GeneralError);
    }
    EXPECT_EQ(comms.TransmitCount(), 0u);

    AnswerEveryRequestWith(Concat({250}, ByteVec(250, 0xFF)));
    EXPECT_EQ(Outcome(master.ReadBits(true, 0, 2000)), std::string(2000, '1'));
}

TEST_F(ModbusMasterTest, RefusesWritesThatDoNotFitBeforeSending)
{
    AnswerEveryRequestWith({0x23, 0xF0, 0x00, 0x7B});
    EXPECT_THROW(master.WriteRegistersAsData(9200, ByteVec(248, 0x55)), ExceptionWithString);
    EXPECT_THROW(master.WriteRegistersString(9200, "x", 247), ExceptionWithString);
    try {
        master.WriteRegistersAsData(9200, ByteVec(3, 0x55));
        ADD_FAILURE() << "odd length accepted";
    } catch (const Modbus::Error& error) {
        EXPECT_STREQ(error.what(), "WriteRegistersAsData: data length is not a multiple of 2");
    }
    try {
        ModbusMaster::WriteRegistersData(0, ByteVec(5, 0));
        ADD_FAILURE() << "odd length accepted";
    } catch (const ExceptionWithString& error) {
        EXPECT_STREQ(error.what(), "WriteRegistersData: num bytes must be multiple of 2");
    }
    EXPECT_THROW(master.SendQelCommand(14, ByteVec(250, 'a')), Modbus::Error);
    EXPECT_EQ(comms.TransmitCount(), 0u);

    EXPECT_EQ(Outcome(master.WriteRegistersAsData(9200, ByteVec(246, 0x55))), "ok");
    ASSERT_EQ(comms.TransmitCount(), 1u);
    const ByteVec sent = Sent(0);
    ASSERT_EQ(sent.size(), 1u + 5u + 246u);
    EXPECT_EQ(Describe(ByteVec(sent.begin(), sent.begin() + 6)), "10 23 F0 00 7B F6");

    AnswerEveryRequestWith({0xFB, 0x00, 0x0E});
    master.SendQelCommand(14, ByteVec(249, 'a')); // fits exactly; the reply is beside the point
    ASSERT_TRUE(comms.WaitForTransmitted(2));
    EXPECT_EQ(comms.Transmitted()[1].size(), 256u);
}

TEST_F(ModbusMasterTest, DestructionCancelsOutstandingRequests)
{
    boost::future<unsigned short> head;
    boost::future<std::vector<float>> queued;
    boost::future<ByteVec> vendor;
    {
        ModbusMaster shortLived(link);
        head = shortLived.ReadInputRegister(901);
        queued = shortLived.ReadRegistersFloat(1, 9000, 2);
        vendor = shortLived.SendQelCommand(22);
        ASSERT_TRUE(comms.WaitForTransmitted(1));
    }
    // The queued ones are gone at once; the head's reply is still awaited.
    EXPECT_TRUE(ErrorAs<boost::broken_promise>(queued));
    EXPECT_TRUE(ErrorAs<boost::broken_promise>(vendor));
    auto next = master.ReadInputRegister(902);
    comms.Emit(ScriptedComms::Frame(1, 4, {0x02, 0x00, 0x01}));
    ASSERT_TRUE(comms.WaitForTransmitted(2));
    EXPECT_TRUE(ErrorAs<boost::broken_promise>(head));
    comms.Emit(ScriptedComms::Frame(1, 4, {0x02, 0x00, 0xEA}));
    EXPECT_EQ(Outcome(std::move(next)), "234");
    EXPECT_EQ(comms.TransmitCount(), 2u);
}

} // namespace
