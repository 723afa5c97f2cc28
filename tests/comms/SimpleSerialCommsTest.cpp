#include <boost/thread/future.hpp>

#include <gtest/gtest.h>

#include "comms/SimpleSerialComms.h"
#include "tests/support/FakeSysfs.h"
#include "tests/support/PtyPair.h"

namespace {

class SimpleSerialCommsTest : public ::testing::Test
{
protected:
    SimpleSerialCommsTest() { sysfs.AddUart(2, pty.SlavePath()); }

    PtyPair pty;
    FakeSysfs sysfs; // COM3 is the pty
};

TEST_F(SimpleSerialCommsTest, ReadsBytesInOrderAndTimesOutWhenNoneCome)
{
    SimpleSerialComms comms(3, 9600);
    EXPECT_THROW(comms.ReadByte(0), SimpleSerialComms::TimedOutError);
    try {
        comms.ReadByte(-3);
        ADD_FAILURE() << "accepted -3";
    } catch (const SimpleSerialComms::TimedOutError&) {
        ADD_FAILURE() << "-3 is no time-out";
    } catch (const ExceptionWithString& e) {
        EXPECT_STREQ(e.what(), "invalid timeout value");
    }

    pty.Write({0xA1, 0xB2, 0xC3});
    EXPECT_EQ(comms.ReadByte(10000), 0xA1);
    // The other two came in the same chunk: no waiting for them.
    EXPECT_EQ(comms.ReadByte(0), 0xB2);
    EXPECT_EQ(comms.ReadByte(0), 0xC3);
    try {
        comms.ReadByte(20);
        ADD_FAILURE() << "a byte from nowhere";
    } catch (const SimpleSerialComms::TimedOutError& e) {
        EXPECT_STREQ(e.what(), "timeout occurred while waiting to receive serial data");
    }

    comms.defaultTimeoutMs = 10000;
    comms.Transmit({0x42});
    EXPECT_EQ(pty.Read(1), ByteVec{0x42});
    pty.Write({0x43});
    EXPECT_EQ(comms.ReadByte(), 0x43); // -2: the default time-out
}

TEST_F(SimpleSerialCommsTest, AfterAFailureEveryReadReportsIt)
{
    SimpleSerialComms comms(3, 9600);
    pty.Write({1, 2, 3});
    EXPECT_EQ(comms.ReadByte(10000), 1);
    pty.CloseMaster();
    // Bytes still queued may be read until the failure is known; from then on every read
    // reports it, waiting or not.
    std::string failure;
    for (int reads = 0; reads < 3 && failure.empty(); ++reads) {
        try {
            comms.ReadByte(10000);
        } catch (const SimpleSerialComms::TimedOutError&) {
            failure = "time-out";
        } catch (const ExceptionWithString& e) {
            failure = e.what();
        }
    }
    EXPECT_EQ(failure, "ReadFile failed (error-code 5)");
    for (int timeout : {0, -1}) {
        try {
            comms.ReadByte(timeout);
            ADD_FAILURE() << "read a byte from a failed port";
        } catch (const SimpleSerialComms::TimedOutError&) {
            ADD_FAILURE() << "a time-out instead of the failure";
        } catch (const ExceptionWithString& e) {
            EXPECT_STREQ(e.what(), "ReadFile failed (error-code 5)");
        }
    }
}

TEST_F(SimpleSerialCommsTest, ReaderWaitingForeverIsWokenByTheFailure)
{
    SimpleSerialComms comms(3, 9600);
    pty.Write({1});
    EXPECT_EQ(comms.ReadByte(10000), 1);
    auto reading = boost::async(boost::launch::async, [&]() -> std::string {
        try {
            comms.ReadByte(-1);
        } catch (const std::exception& e) {
            return e.what();
        }
        return "a byte";
    });
    pty.CloseMaster();
    ASSERT_EQ(reading.wait_for(boost::chrono::seconds(10)), boost::future_status::ready);
    EXPECT_EQ(reading.get(), "ReadFile failed (error-code 5)");
}

TEST_F(SimpleSerialCommsTest, OpenErrorsPropagate)
{
    SimpleSerialComms first(3, 9600);
    EXPECT_THROW(SimpleSerialComms(3, 9600), SerialCommsThread::Error);
    EXPECT_THROW(SimpleSerialComms(4, 9600), SerialCommsThread::Error);
}

} // namespace
