#include <cstdlib>
#include <functional>
#include <future>
#include <string>

#include <gtest/gtest.h>

#include "calibration/CalibBoard.h"
#include "calibration/CalibBoardCommands.h"
#include "calibration/CalibBoardParams.h"
#include "tests/support/PtyPair.h"

// The link against a board played byte by byte by the test on the far end of a pty (COM300).

namespace {

const int port = 300;

// Runs operation on a thread of its own, answers the request it sends (of requestSize bytes)
// with reply, and returns the request. The operation's error text, if any, goes to errorText.
class CraftedReplyTest : public ::testing::Test
{
protected:
    CraftedReplyTest() { ::setenv("TOLVAREN_EXTRA_SERIAL_PORTS", board.SlavePath().c_str(), 1); }
    ~CraftedReplyTest() override { ::unsetenv("TOLVAREN_EXTRA_SERIAL_PORTS"); }

    ByteVec Exchange(const std::function<void()>& operation, std::size_t requestSize,
                     const ByteVec& reply)
    {
        auto done = std::async(std::launch::async, [&] {
            try {
                operation();
            } catch (const std::exception& e) {
                errorText = e.what();
            }
        });
        const ByteVec request = board.Read(requestSize);
        board.Write(reply);
        EXPECT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        return request;
    }

    PtyPair board;
    std::string errorText;
};

TEST_F(CraftedReplyTest, EachCheckOfAReplyInItsOrder)
{
    struct Case
    {
        const char* what;
        ByteVec reply; // to Ping
        const char* error;
    };
    const Case cases[] = {
        {"bare ACK", {0x02, 0x00, 0x00, 0x00}, ""},
        {"one data byte, correct checksum", {0x01, 0x00, 0x00}, "reply too short"},
        {"no data byte", {0x00, 0x00}, "reply too short"},
        {"echo of another command", {0x02, 0x01, 0x00, 0xFF},
         "reply does not correspond to requested command"},
        {"status 5", {0x02, 0x00, 0x05, 0xFB}, "reply to command was not an ACK"},
        // Echo and status are wrong too, but the checksum is checked first.
        {"bad checksum", {0x02, 0x01, 0x05, 0x00}, "checksum failure"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        errorText.clear();
        CalibBoardLink link(port);
        unsigned char status = 0xEE;
        const ByteVec request = Exchange(
            [&] { status = link.Transact(CalibBoardCommands::Ping); }, 3, c.reply);
        EXPECT_EQ(request, (ByteVec{0x01, 0x00, 0x00}));
        EXPECT_EQ(errorText, c.error);
        if (errorText.empty()) {
            EXPECT_EQ(status, 0);
        }
    }
}

TEST_F(CraftedReplyTest, WithoutRequireAckTheStatusIsReturnedAndRawRepliesAreUnchecked)
{
    CalibBoardLink link(port);
    link.RequireAck = false;
    unsigned char status = 0;
    Exchange([&] { status = link.Transact(CalibBoardCommands::Ping); }, 3,
             {0x02, 0x00, 0x05, 0xFB});
    EXPECT_EQ(errorText, "");
    EXPECT_EQ(status, 5);

    // The launch dialog's comms test checks echo and status itself.
    link.RequireAck = true;
    ByteVec reply;
    Exchange([&] { reply = link.RawTransact({0x00}); }, 3, {0x02, 0x01, 0x05, 0xFA});
    EXPECT_EQ(errorText, "");
    EXPECT_EQ(reply, (ByteVec{0x01, 0x05}));
    Exchange([&] { reply = link.RawTransact({0x00}); }, 3, {0x02, 0x00, 0x00, 0x01});
    EXPECT_EQ(errorText, "checksum failure");
}

TEST_F(CraftedReplyTest, RequestSizeLimitAndPayloadOfTheReply)
{
    CalibBoardLink link(port);
    // 255 data bytes: the command and 254 payload bytes, whose sum is 3 + 254 * 0x80.
    const ByteVec payload(254, 0x80);
    ByteVec replyPayload{0x99};
    const ByteVec request = Exchange(
        [&] { link.Transact(CalibBoardCommands::WriteEeprom, payload, &replyPayload); }, 257,
        {0x04, 0x03, 0x00, 0xAB, 0xCD, 0x85});
    EXPECT_EQ(errorText, "");
    ASSERT_EQ(request.size(), 257u);
    EXPECT_EQ(request[0], 0xFF);
    EXPECT_EQ(request[1], 0x03);
    EXPECT_EQ(request[256], 0xFD);
    EXPECT_EQ(replyPayload, (ByteVec{0xAB, 0xCD}));

    try {
        link.Transact(CalibBoardCommands::WriteEeprom, ByteVec(255, 0x80));
        ADD_FAILURE() << "256 data bytes sent";
    } catch (const CalibBoardLink::Error& e) {
        EXPECT_STREQ(e.what(), "request size too large");
    }
    EXPECT_THROW(link.RawTransact(ByteVec()), CalibBoardLink::Error);
    EXPECT_EQ(board.ReadFor(std::chrono::milliseconds(100)), ByteVec());
}

TEST_F(CraftedReplyTest, ReplyByteThatNeverComesTimesOut)
{
    CalibBoardLink link(port);
    EXPECT_EQ(link.Comms().defaultTimeoutMs, 1000);
    link.Comms().defaultTimeoutMs = 200;
    Exchange([&] { link.Transact(CalibBoardCommands::Ping); }, 3, {0x02, 0x00, 0x00});
    EXPECT_EQ(errorText, "timeout occurred while waiting to receive serial data");
}

TEST_F(CraftedReplyTest, BoardOperations)
{
    CalibBoard calibBoard(port);
    unsigned char version = 0;
    EXPECT_EQ(Exchange([&] { version = calibBoard.GetVersion(); }, 3,
                       {0x03, 0x01, 0x00, 0x07, 0xF8}),
              (ByteVec{0x01, 0x01, 0xFF}));
    EXPECT_EQ(errorText, "");
    EXPECT_EQ(version, 7);

    Exchange([&] { calibBoard.GetVersion(); }, 3, {0x04, 0x01, 0x00, 0x01, 0x02, 0xFC});
    EXPECT_EQ(errorText, "reply data size from get-version command is not 1 byte");
    errorText.clear();

    EXPECT_EQ(Exchange([&] { calibBoard.SetConfig(0, CalibBoardCommands::PathCode(0), 1); }, 6,
                       {0x02, 0x64, 0x00, 0x9C}),
              (ByteVec{0x04, 0x64, 0x00, 0x01, 0x01, 0x9A}));
    EXPECT_EQ(errorText, "");

    for (unsigned bad : {0, 1, 2}) {
        unsigned values[3] = {15, 8, 15};
        values[bad] = 256;
        try {
            calibBoard.SetConfig(values[0], values[1], values[2]);
            ADD_FAILURE() << "value " << bad << " accepted";
        } catch (const CalibBoardLink::Error& e) {
            EXPECT_STREQ(e.what(), "Val is too big to fit in a byte");
        }
    }
    EXPECT_EQ(board.ReadFor(std::chrono::milliseconds(100)), ByteVec());

    EXPECT_EQ(CalibBoardCommands::PathCode(1), 0x12);
    EXPECT_EQ(CalibBoardCommands::PathCode(3), 8);
    for (int badPath : {-1, 4}) {
        try {
            CalibBoardCommands::PathCode(badPath);
            ADD_FAILURE() << "path " << badPath << " accepted";
        } catch (const ExceptionWithString& e) {
            EXPECT_STREQ(e.what(), "Invalid calibrated-path value");
        }
    }
}

TEST_F(CraftedReplyTest, ShortEepromReplyIsAnError)
{
    // 72 EEPROM bytes of a version-1 image: one short of the parameters.
    ByteVec reply{74, 0x02, 0x00, 0x01};
    reply.resize(1 + 74, 0x00);
    reply.push_back(static_cast<unsigned char>(-(0x02 + 0x01)));
    const ByteVec request =
        Exchange([&] { CalibBoardParams::LoadParamsFromBoard(port); }, 4, reply);
    EXPECT_EQ(request, (ByteVec{0x02, 0x02, 0x00, 0xFE}));
    EXPECT_EQ(errorText,
              "reply from read-EEPROM command is shorter than the calibration params image");
}

} // namespace
