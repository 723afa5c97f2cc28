#include "modbus/ModbusMasterDatalink.h"

#include <atomic>
#include <string>

#include <boost/throw_exception.hpp>
#include <gtest/gtest.h>

#include "comms/ExceptionWithString.h"
#include "modbus/ModbusCrc.h"
#include "modbus/ModbusErrors.h"
#include "tests/support/FutureWait.h"
#include "tests/support/ScriptedComms.h"

// Reaches the reply-timer handler directly, to deliver an expiry of the wait in progress on cue
// (the timer thread cannot be made to expire it while a given exchange is on the wire).
class ModbusMasterDatalinkTestPeer
{
public:
    static void ExpireCurrentWait(ModbusMasterDatalink& link)
    {
        link.OnReplyTimer(boost::system::error_code(), link.CurrentWaitId());
    }
    static void ExpireSupersededWait(ModbusMasterDatalink& link)
    {
        link.OnReplyTimer(boost::system::error_code(), link.CurrentWaitId() - 1);
    }
};

namespace {

using FutureWait::ErrorAs;
using FutureWait::Ready;

ByteVec Identity(const ByteVec& data)
{
    return data;
}

class DatalinkTest : public ::testing::Test
{
protected:
    boost::future<ByteVec> Send(unsigned char functionCode, const ByteVec& data,
                                boost::function<ByteVec(const ByteVec&)> parse = &Identity)
    {
        return link.SendRequest<ByteVec>(functionCode, data, parse, &handle);
    }

    // Declared first: the datalink disconnects from it when destroyed.
    ScriptedComms comms;
    ModbusMasterDatalink link{&comms};
    ModbusMasterDatalink::RequestHandle handle;
};

TEST_F(DatalinkTest, FramesRequestsWithAddressAndCrcAndRefusesOverlongData)
{
    auto first = Send(3, {0x00, 0x00, 0x00, 0x01});
    ASSERT_TRUE(comms.WaitForTransmitted(1));
    EXPECT_EQ(comms.Transmitted()[0], (ByteVec{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}));
    comms.Emit(ScriptedComms::Frame(1, 3, {0x02, 0x00, 0x07}));
    ASSERT_TRUE(Ready(first));

    EXPECT_THROW(
        {
            try {
                Send(16, ByteVec(253, 0xAA));
            } catch (const Modbus::Error& error) {
                EXPECT_STREQ(error.what(), "Message data length too long");
                EXPECT_EQ(error.Kind(), Modbus::GeneralError);
                throw;
            }
        },
        Modbus::Error);
    EXPECT_EQ(comms.TransmitCount(), 1u);

    link.SetNodeAddress(7);
    auto full = Send(16, ByteVec(252, 0xAA));
    ASSERT_TRUE(comms.WaitForTransmitted(2));
    const ByteVec frame = comms.Transmitted()[1];
    ASSERT_EQ(frame.size(), 256u);
    EXPECT_EQ(frame[0], 7);
    EXPECT_TRUE(HasValidModbusCrc(frame.data(), frame.size()));
}

TEST_F(DatalinkTest, ReplyInSingleBytesCompletesOnceWhenItsLastByteArrives)
{
    std::atomic<int> parses{0};
    auto future = Send(4, {0x00, 0x10, 0x00, 0x02}, [&](const ByteVec& data) {
        ++parses;
        return data;
    });
    ASSERT_TRUE(comms.WaitForTransmitted(1));
    ScriptedComms::Chunks bytes =
        ScriptedComms::SingleBytes(ScriptedComms::Frame(1, 4, {0x04, 0x01, 0x02, 0x03, 0x04}));
    const ByteVec last = bytes.back();
    bytes.pop_back();
    comms.Emit(bytes);
    ASSERT_TRUE(comms.WaitUntilDelivered());
    EXPECT_FALSE(future.is_ready());

    comms.Emit(last);
    ASSERT_TRUE(Ready(future));
    EXPECT_EQ(future.get(), (ByteVec{0x04, 0x01, 0x02, 0x03, 0x04}));
    EXPECT_EQ(parses, 1);
}

TEST_F(DatalinkTest, ReplyWhoseLeadingBytesCarryAValidCrcCompletesWhenTheRestArrives)
{
    // 01 03 04 12 34 followed by its own CRC looks like a whole frame; the real reply goes on.
    ByteVec reply{0x01, 0x03, 0x04, 0x12, 0x34};
    AppendModbusCrc(reply);
    const ByteVec early = reply;
    AppendModbusCrc(reply);

    auto future = Send(3, {0x00, 0x00, 0x00, 0x02}, [](const ByteVec& data) {
        if (data.size() < 5)
            boost::throw_exception(Modbus::ReplyTooShortError("need four register bytes"));
        return data;
    });
    ASSERT_TRUE(comms.WaitForTransmitted(1));
    comms.Emit(early);
    ASSERT_TRUE(comms.WaitUntilDelivered());
    EXPECT_FALSE(future.is_ready());

    comms.Emit(ByteVec(reply.end() - 2, reply.end()));
    ASSERT_TRUE(Ready(future));
    EXPECT_EQ(future.get(), ByteVec(reply.begin() + 2, reply.end() - 2));
}

TEST_F(DatalinkTest, QueuedRequestIsTransmittedOnlyAfterThePreviousCompletes)
{
    boost::shared_future<ByteVec> first;
    std::atomic<int> sentBeforeFirstDone{0};
    // Answers from inside Transmit, which the datalink calls from its data slot for every
    // request after the first.
    comms.SetResponder([&](const ByteVec& frame) {
        if (frame[1] == 6 && !first.is_ready())
            ++sentBeforeFirstDone;
        return ScriptedComms::Chunks{ScriptedComms::Frame(1, frame[1], {0x00, 0x01, 0x00, 0x02})};
    });
    first = Send(6, {0x00, 0x01, 0x00, 0x02}).share();
    auto second = Send(6, {0x00, 0x03, 0x00, 0x04});
    auto third = Send(6, {0x00, 0x05, 0x00, 0x06});
    ASSERT_TRUE(Ready(third));
    ASSERT_TRUE(Ready(second));
    EXPECT_EQ(sentBeforeFirstDone, 1); // the first itself, sent at once
    const auto sent = comms.Transmitted();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1][3], 0x03);
    EXPECT_EQ(sent[2][3], 0x05);
}

TEST_F(DatalinkTest, TimeoutFailsEveryQueuedRequestAndTheNextStartsAfresh)
{
    link.SetReplyTimeoutMs(50);
    auto a = Send(3, {0x00, 0x00, 0x00, 0x01});
    auto b = Send(3, {0x00, 0x01, 0x00, 0x01});
    auto c = Send(3, {0x00, 0x02, 0x00, 0x01});
    for (auto* future : {&a, &b, &c}) {
        auto error = ErrorAs<Modbus::TimeoutError>(*future);
        ASSERT_TRUE(error);
        EXPECT_STREQ(error->what(), "No reply from node");
        EXPECT_EQ(error->Kind(), Modbus::TimeoutErrorKind);
    }
    EXPECT_EQ(comms.TransmitCount(), 1u);

    // A late reply while nothing is outstanding is dropped, and leaves nothing behind.
    comms.Emit(ScriptedComms::Frame(1, 3, {0x02, 0xDE, 0xAD}));
    ASSERT_TRUE(comms.WaitUntilDelivered());

    link.SetReplyTimeoutMs(5000);
    auto next = Send(3, {0x00, 0x09, 0x00, 0x01});
    ASSERT_TRUE(comms.WaitForTransmitted(2));
    comms.Emit(ScriptedComms::Frame(1, 3, {0x02, 0x00, 0x2A}));
    ASSERT_TRUE(Ready(next));
    EXPECT_EQ(next.get(), (ByteVec{0x02, 0x00, 0x2A}));
}

// Modbus RTU cannot tell a reply that comes after its time-out from the reply to the request
// sent next: the next request waits until the line has been quiet for a time-out's length, so
// the straggler is dropped instead of being taken for its answer.
TEST_F(DatalinkTest, AfterATimeoutTheNextRequestWaitsForAQuietLine)
{
    link.SetReplyTimeoutMs(500);
    auto lost = Send(3, {0x00, 0x00, 0x00, 0x01});
    ASSERT_TRUE(ErrorAs<Modbus::TimeoutError>(lost));
    auto next = Send(3, {0x00, 0x01, 0x00, 0x01});
    EXPECT_EQ(comms.TransmitCount(), 1u);
    comms.Emit(ScriptedComms::Frame(1, 3, {0x02, 0xDE, 0xAD})); // the late reply
    ASSERT_TRUE(comms.WaitUntilDelivered());
    ASSERT_TRUE(comms.WaitForTransmitted(2));
    EXPECT_FALSE(next.is_ready());
    comms.Emit(ScriptedComms::Frame(1, 3, {0x02, 0x00, 0x2A}));
    ASSERT_TRUE(Ready(next));
    EXPECT_EQ(next.get(), (ByteVec{0x02, 0x00, 0x2A}));
}

ByteVec Joined(const ByteVec& lead, const ByteVec& frame)
{
    ByteVec bytes = lead;
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    return bytes;
}

struct NoisyReplyCase
{
    const char* name;
    ScriptedComms::Chunks chunks; // as they arrive
    ByteVec frame;                // the reply among them
};

// Stray bytes left on the line by a turn-around come before the reply; the reply is still taken
// when its last byte arrives, its exception form included.
TEST_F(DatalinkTest, ReplyAfterStrayBytesIsTaken)
{
    const ByteVec reply = ScriptedComms::Frame(1, 3, {0x02, 0x00, 0x2A});
    ByteVec exception{0x01, 0x83, 0x02};
    AppendModbusCrc(exception);
    const NoisyReplyCase cases[] = {
        {"one stray byte", {Joined({0xFF}, reply)}, reply},
        {"two stray bytes", {Joined({0x00, 0xFE}, reply)}, reply},
        {"stray byte equal to the node address", {Joined({0x01}, reply)}, reply},
        {"one stray byte, exception reply", {Joined({0xFF}, exception)}, exception},
        {"two stray bytes, exception reply", {Joined({0x7F, 0x00}, exception)}, exception},
        {"split in chunks after a stray byte",
         {{0xFF},
          {0x01, 0x03},
          {0x02, 0x00},
          ByteVec(reply.begin() + 4, reply.end() - 1),
          ByteVec(reply.end() - 1, reply.end())},
         reply},
    };
    std::size_t sent = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto future = Send(3, {0x00, 0x00, 0x00, 0x01});
        ASSERT_TRUE(comms.WaitForTransmitted(++sent));
        comms.Emit(ScriptedComms::Chunks(c.chunks.begin(), c.chunks.end() - 1));
        ASSERT_TRUE(comms.WaitUntilDelivered());
        EXPECT_FALSE(future.is_ready());
        comms.Emit(c.chunks.back());
        if (c.frame[1] & 0x80) {
            auto error = ErrorAs<Modbus::Error>(future);
            ASSERT_TRUE(error);
            EXPECT_STREQ(error->what(), "node returned an error: illegal data address");
            EXPECT_EQ(error->Kind(), Modbus::ExceptionReply);
            EXPECT_EQ(error->ExceptionCode(), 2);
            EXPECT_EQ(error->Reply(), c.frame); // without the stray bytes
        } else {
            ASSERT_TRUE(Ready(future));
            EXPECT_EQ(future.get(), ByteVec(c.frame.begin() + 2, c.frame.end() - 2));
        }
    }
}

// Nothing that fails a check a reply gets is taken after stray bytes: the request times out as
// it would with garbage alone, and the next one is answered normally.
TEST_F(DatalinkTest, GarbageWithoutAValidReplyEndsInTimeout)
{
    const ByteVec reply = ScriptedComms::Frame(1, 3, {0x02, 0x00, 0x01});
    const struct
    {
        const char* name;
        ByteVec bytes;
    } cases[] = {
        {"garbage alone", {0x55, 0x13, 0x01, 0x03, 0x02, 0x00}},
        {"reply cut short", Joined({0x55}, ByteVec(reply.begin(), reply.end() - 1))},
        {"reply to another node", Joined({0x55}, ScriptedComms::Frame(2, 3, {0x02, 0x00, 0x01}))},
        {"reply to another function",
         Joined({0x55}, ScriptedComms::Frame(1, 4, {0x02, 0x00, 0x01}))},
        {"more than a turn-around leaves", Joined(ByteVec(9, 0x55), reply)},
    };
    link.SetReplyTimeoutMs(50);
    std::size_t sent = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto future = Send(3, {0x00, 0x00, 0x00, 0x01});
        ASSERT_TRUE(comms.WaitForTransmitted(++sent));
        comms.Emit(c.bytes);
        auto error = ErrorAs<Modbus::TimeoutError>(future);
        ASSERT_TRUE(error);
        EXPECT_STREQ(error->what(), "No reply from node");
    }
    link.SetReplyTimeoutMs(5000);
    auto next = Send(3, {0x00, 0x00, 0x00, 0x01});
    ASSERT_TRUE(comms.WaitForTransmitted(++sent));
    comms.Emit(reply);
    ASSERT_TRUE(Ready(next));
    EXPECT_EQ(next.get(), (ByteVec{0x02, 0x00, 0x01}));
}

struct ExceptionReplyCase
{
    ByteVec body; // address, function code and what follows, without the CRC
    Modbus::ErrorKind kind;
    unsigned char code;
    const char* message;
};

TEST_F(DatalinkTest, ChecksReplyAddressFunctionAndExceptionReplies)
{
    const ExceptionReplyCase cases[] = {
        {{0x01, 0x83, 0x02}, Modbus::ExceptionReply, 2,
         "node returned an error: illegal data address"},
        {{0x01, 0x83, 0x01}, Modbus::ExceptionReply, 1, "node returned an error: illegal function"},
        {{0x01, 0x83, 0x03}, Modbus::ExceptionReply, 3,
         "node returned an error: the value requested is not valid"},
        {{0x01, 0x83, 0x04}, Modbus::ExceptionReply, 4, "node returned an error: device failure"},
        {{0x01, 0x83, 0x06}, Modbus::ExceptionReply, 6, "node returned an error: device busy"},
        {{0x01, 0x83, 0x0B}, Modbus::ExceptionReply, 11,
         "node returned an error: unknown Modbus error"},
        {{0x01, 0x83, 0x03, 'n', 'o', ' ', 'r', 'o', 'o', 'm'}, Modbus::ExceptionReply, 3,
         "no room"},
        {{0x01, 0x83}, Modbus::GeneralError, 0, "node returned an error, with no exception code"},
        {{0x02, 0x03, 0x02, 0x00, 0x01}, Modbus::GeneralError, 0, "wrong node replied!"},
        {{0x01, 0x04, 0x02, 0x00, 0x01}, Modbus::GeneralError, 0,
         "node's reply does not correspond to the request sent"},
    };
    std::size_t sent = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        auto future = Send(3, {0x00, 0x00, 0x00, 0x01});
        ASSERT_TRUE(comms.WaitForTransmitted(++sent));
        ByteVec frame = c.body;
        AppendModbusCrc(frame);
        comms.Emit(frame);
        auto error = ErrorAs<Modbus::Error>(future);
        ASSERT_TRUE(error);
        EXPECT_STREQ(error->what(), c.message);
        EXPECT_EQ(error->Kind(), c.kind);
        EXPECT_EQ(error->ExceptionCode(), c.code);
        EXPECT_EQ(error->Reply(), c.kind == Modbus::ExceptionReply ? frame : ByteVec());
    }
}

TEST_F(DatalinkTest, CancelledHeadReplyIsConsumedAndTheNextGoesOut)
{
    auto head = Send(3, {0x00, 0x00, 0x00, 0x01});
    const auto headHandle = handle;
    auto queued = Send(3, {0x00, 0x01, 0x00, 0x01});
    const auto queuedHandle = handle;
    auto last = Send(3, {0x00, 0x02, 0x00, 0x01});
    link.CancelRequest(headHandle);
    link.CancelRequest(queuedHandle);
    ASSERT_TRUE(comms.WaitForTransmitted(1));

    comms.Emit(ScriptedComms::Frame(1, 3, {0x02, 0x00, 0x01}));
    ASSERT_TRUE(comms.WaitForTransmitted(2));
    EXPECT_EQ(comms.Transmitted()[1][3], 0x02); // the cancelled queued one was skipped
    comms.Emit(ScriptedComms::Frame(1, 3, {0x02, 0x00, 0x03}));
    ASSERT_TRUE(Ready(last));
    EXPECT_EQ(last.get(), (ByteVec{0x02, 0x00, 0x03}));
    EXPECT_TRUE(ErrorAs<boost::broken_promise>(head));
    EXPECT_TRUE(ErrorAs<boost::broken_promise>(queued));
    EXPECT_EQ(comms.TransmitCount(), 2u);
}

struct CardSpecificError : Modbus::Error
{
    CardSpecificError() : Modbus::Error("card says no") {}
};

TEST_F(DatalinkTest, ErrorsKeepTheirExactTypeAcrossThreads)
{
    auto parserError = Send(3, {0x00, 0x00, 0x00, 0x01}, [](const ByteVec&) -> ByteVec {
        boost::throw_exception(CardSpecificError());
    });
    ASSERT_TRUE(comms.WaitForTransmitted(1));
    comms.Emit(ScriptedComms::Frame(1, 3, {0x02, 0x00, 0x01}));
    auto error = ErrorAs<CardSpecificError>(parserError);
    ASSERT_TRUE(error);
    EXPECT_STREQ(error->what(), "card says no");

    comms.FailNextTransmits(1, "port gone");
    auto transportError = Send(3, {0x00, 0x00, 0x00, 0x01});
    auto transport = ErrorAs<ExceptionWithString>(transportError);
    ASSERT_TRUE(transport);
    EXPECT_STREQ(transport->what(), "port gone");
}

TEST_F(DatalinkTest, FailedTransmitOfTheHeadDoesNotStrandTheRequestsBehindIt)
{
    auto first = Send(3, {0x00, 0x00, 0x00, 0x01});
    auto second = Send(3, {0x00, 0x01, 0x00, 0x01});
    auto third = Send(3, {0x00, 0x02, 0x00, 0x01});
    ASSERT_TRUE(comms.WaitForTransmitted(1));
    comms.FailNextTransmits(1, "no room");
    comms.Emit(ScriptedComms::Frame(1, 3, {0x02, 0x00, 0x01}));
    ASSERT_TRUE(Ready(first));

    auto error = ErrorAs<ExceptionWithString>(second);
    ASSERT_TRUE(error);
    EXPECT_STREQ(error->what(), "no room");
    ASSERT_TRUE(comms.WaitForTransmitted(2));
    EXPECT_EQ(comms.Transmitted()[1][3], 0x02);
    comms.Emit(ScriptedComms::Frame(1, 3, {0x02, 0x00, 0x03}));
    ASSERT_TRUE(Ready(third));
    EXPECT_EQ(third.get(), (ByteVec{0x02, 0x00, 0x03}));
}

TEST_F(DatalinkTest, ExpiryOfAWaitStartedForAnEndedExchangeDoesNotFailTheNextRequest)
{
    link.SetReplyTimeoutMs(10000);
    auto first = Send(3, {0x00, 0x00, 0x00, 0x01});
    auto second = Send(3, {0x00, 0x01, 0x00, 0x01});
    ASSERT_TRUE(comms.WaitForTransmitted(1));
    comms.Emit(ScriptedComms::Frame(1, 3, {0x02, 0x00, 0x01}));
    ASSERT_TRUE(Ready(first));
    ASSERT_TRUE(comms.WaitForTransmitted(2));

    // The wait started with the first exchange expires while the second is on the wire, and
    // so does a superseded one: the second keeps its own full time-out.
    ModbusMasterDatalinkTestPeer::ExpireCurrentWait(link);
    ModbusMasterDatalinkTestPeer::ExpireSupersededWait(link);
    EXPECT_FALSE(second.is_ready());
    comms.Emit(ScriptedComms::Frame(1, 3, {0x02, 0x00, 0x02}));
    ASSERT_TRUE(Ready(second));
    EXPECT_EQ(second.get(), (ByteVec{0x02, 0x00, 0x02}));

    // A shorter time-out takes effect at once, and the current exchange's expiry still counts.
    link.SetReplyTimeoutMs(50);
    auto third = Send(3, {0x00, 0x02, 0x00, 0x01});
    auto error = ErrorAs<Modbus::TimeoutError>(third);
    ASSERT_TRUE(error);
    EXPECT_STREQ(error->what(), "No reply from node");
}

TEST_F(DatalinkTest, CommsInterfaceChangesOnlyWhileIdle)
{
    auto pending = Send(3, {0x00, 0x00, 0x00, 0x01});
    ScriptedComms other;
    EXPECT_THROW(link.SetCommsInterface(&other), ExceptionWithString);
    comms.Emit(ScriptedComms::Frame(1, 3, {0x02, 0x00, 0x01}));
    ASSERT_TRUE(Ready(pending));

    link.SetCommsInterface(&other);
    auto moved = Send(3, {0x00, 0x00, 0x00, 0x01});
    ASSERT_TRUE(other.WaitForTransmitted(1));
    // The old interface is no longer listened to.
    comms.Emit(ScriptedComms::Frame(1, 3, {0x02, 0x00, 0x09}));
    ASSERT_TRUE(comms.WaitUntilDelivered());
    EXPECT_FALSE(moved.is_ready());
    other.Emit(ScriptedComms::Frame(1, 3, {0x02, 0x00, 0x05}));
    ASSERT_TRUE(Ready(moved));
    EXPECT_EQ(moved.get(), (ByteVec{0x02, 0x00, 0x05}));
    link.SetCommsInterface(&comms);
}

TEST(DatalinkLifetime, DestroyingTheDatalinkBreaksOutstandingPromises)
{
    ScriptedComms comms;
    boost::future<ByteVec> head;
    boost::future<ByteVec> queued;
    {
        ModbusMasterDatalink link(&comms);
        head = link.SendRequest<ByteVec>(3, {0x00, 0x00, 0x00, 0x01}, &Identity, nullptr);
        queued = link.SendRequest<ByteVec>(3, {0x00, 0x01, 0x00, 0x01}, &Identity, nullptr);
        ASSERT_TRUE(comms.WaitForTransmitted(1));
    }
    EXPECT_TRUE(ErrorAs<boost::broken_promise>(head));
    EXPECT_TRUE(ErrorAs<boost::broken_promise>(queued));
    // A reply arriving after the datalink is gone reaches no one.
    comms.Emit(ScriptedComms::Frame(1, 3, {0x02, 0x00, 0x01}));
    EXPECT_TRUE(comms.WaitUntilDelivered());
}

} // namespace
