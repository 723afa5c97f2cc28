#include <filesystem>

#include <sys/syscall.h>
#include <unistd.h>

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/future.hpp>
#include <boost/thread/mutex.hpp>

#include <gtest/gtest.h>

#include "comms/SerialCommsThread.h"
#include "tests/support/FakeSysfs.h"
#include "tests/support/PtyPair.h"
#include "tests/support/TestPace.h"
#include "tests/support/WaitUntil.h"

namespace {

SerialPortSettings Com(int port, int parity = 0, int stopBits = 1, int baud = 115200)
{
    SerialPortSettings s;
    s.port = port;
    s.baudRate = baud;
    s.parity = parity;
    s.stopBits = stopBits;
    return s;
}

// The calling thread's system id, to see from outside when it has ended.
pid_t ThisThreadTid()
{
    return pid_t(::syscall(SYS_gettid));
}

bool ThreadHasEnded(pid_t tid)
{
    return !std::filesystem::exists("/proc/self/task/" + std::to_string(tid));
}

std::string OpenError(const SerialPortSettings& settings)
{
    try {
        SerialCommsThread connection(settings, nullptr);
    } catch (const SerialCommsThread::Error& e) {
        return e.what();
    }
    return "opened";
}

// Collects what a connection emits and its failure reports.
class Receiver : public SerialCommsThread::IFeedback
{
public:
    void OnData(ByteVec& bytes)
    {
        boost::lock_guard<boost::mutex> lock(m_mutex);
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
        ++m_chunks;
        m_changed.notify_all();
    }
    void OnConnectionError(CommsConnection*, const std::exception& e) override
    {
        boost::lock_guard<boost::mutex> lock(m_mutex);
        m_errors.push_back(e.what());
        m_changed.notify_all();
    }
    bool WaitForBytes(std::size_t n)
    {
        boost::unique_lock<boost::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, generous, [&] { return m_bytes.size() >= n; });
    }
    bool WaitForError()
    {
        boost::unique_lock<boost::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, generous, [&] { return !m_errors.empty(); });
    }
    ByteVec Bytes()
    {
        boost::lock_guard<boost::mutex> lock(m_mutex);
        return m_bytes;
    }
    std::vector<std::string> Errors()
    {
        boost::lock_guard<boost::mutex> lock(m_mutex);
        return m_errors;
    }

private:
    boost::mutex m_mutex;
    boost::condition_variable m_changed;
    ByteVec m_bytes;
    int m_chunks = 0;
    std::vector<std::string> m_errors;
};

class SerialCommsThreadTest : public ::testing::Test
{
protected:
    SerialCommsThreadTest() { sysfs.AddUart(0, pty.SlavePath()); }

    PtyPair pty;
    FakeSysfs sysfs; // COM1 is the pty
};

TEST_F(SerialCommsThreadTest, CarriesBytesBothWaysInAnyChunking)
{
    Receiver receiver;
    SerialCommsThread connection(Com(1), &receiver);
    connection.ConnectDataReceived([&](ByteVec& b) { receiver.OnData(b); });

    ByteVec sent;
    for (int chunk = 1; chunk <= 40; ++chunk) {
        ByteVec part(std::size_t(chunk % 7 + 1), static_cast<unsigned char>(chunk));
        pty.Write(part);
        sent.insert(sent.end(), part.begin(), part.end());
    }
    ASSERT_TRUE(receiver.WaitForBytes(sent.size()));
    EXPECT_EQ(receiver.Bytes(), sent);

    connection.Transmit({0x01, 0x03});
    connection.Transmit({0x00, 0x10, 0x00});
    connection.Transmit({0x02, 0xC5, 0xCE});
    EXPECT_EQ(pty.Read(8), (ByteVec{0x01, 0x03, 0x00, 0x10, 0x00, 0x02, 0xC5, 0xCE}));
    EXPECT_TRUE(receiver.Errors().empty());
}

TEST_F(SerialCommsThreadTest, SlotMayTransmitFromInsideTheEmission)
{
    Receiver receiver;
    SerialCommsThread connection(Com(1), &receiver);
    connection.ConnectDataReceived([&](ByteVec& b) {
        ByteVec echo(b);
        for (unsigned char& c : echo)
            c = static_cast<unsigned char>(c + 1);
        connection.Transmit(echo);
    });
    pty.Write({10, 20, 30});
    EXPECT_EQ(pty.Read(3), (ByteVec{11, 21, 31}));
}

TEST_F(SerialCommsThreadTest, SendQueueTakesAtMost1024BytesAtOnce)
{
    SerialCommsThread connection(Com(1), nullptr);
    try {
        connection.Transmit(ByteVec(1025, 0x55));
        ADD_FAILURE() << "1025 bytes were queued";
    } catch (const Circbuf::Error& e) {
        EXPECT_STREQ(e.what(), "no room");
    }
    ByteVec full(1024);
    for (std::size_t i = 0; i < full.size(); ++i)
        full[i] = static_cast<unsigned char>(i);
    connection.Transmit(full);
    EXPECT_EQ(pty.Read(1024), full);
}

TEST_F(SerialCommsThreadTest, DeviceThatStopsTakingBytesGetsEverythingInOrderLater)
{
    // Written at once while the device takes them, then partly, then queued: a device that
    // stops reading fills its buffer and the send queue until "no room"; once it reads again
    // every byte arrives, in order.
    SerialCommsThread connection(Com(1), nullptr);
    ByteVec sent;
    auto chunk = [&](int n) {
        ByteVec bytes(1000);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<unsigned char>(n * 7 + i);
        return bytes;
    };
    int n = 0;
    for (;; ++n) {
        try {
            connection.Transmit(chunk(n));
        } catch (const Circbuf::Error&) {
            break;
        }
        const ByteVec bytes = chunk(n);
        sent.insert(sent.end(), bytes.begin(), bytes.end());
        ASSERT_LT(n, 10000) << "the device never filled up";
    }
    ByteVec received = pty.Read(sent.size());
    for (int more = 0; more < 5; ++more, ++n) {
        const ByteVec bytes = chunk(n);
        ASSERT_TRUE(WaitUntil([&] {
            try {
                connection.Transmit(bytes);
                return true;
            } catch (const Circbuf::Error&) {
                return false;
            }
        }));
        sent.insert(sent.end(), bytes.begin(), bytes.end());
        const ByteVec next = pty.Read(bytes.size());
        received.insert(received.end(), next.begin(), next.end());
    }
    EXPECT_EQ(received, sent);
}

TEST_F(SerialCommsThreadTest, WatcherSeesTrafficBothWays)
{
    struct Watcher : ICommsWatcher {
        boost::mutex mutex;
        ByteVec tx, rx;
        void OnBytesTransmitted(const unsigned char* d, unsigned n) override
        {
            boost::lock_guard<boost::mutex> lock(mutex);
            tx.insert(tx.end(), d, d + n);
        }
        void OnBytesReceived(const unsigned char* d, unsigned n) override
        {
            boost::lock_guard<boost::mutex> lock(mutex);
            rx.insert(rx.end(), d, d + n);
        }
    } watcher;
    Receiver receiver;
    SerialCommsThread connection(Com(1), &receiver);
    connection.SetCommsWatcher(&watcher);
    connection.ConnectDataReceived([&](ByteVec& b) { receiver.OnData(b); });
    connection.Transmit({1, 2, 3});
    ASSERT_EQ(pty.Read(3).size(), 3u);
    pty.Write({4, 5});
    ASSERT_TRUE(receiver.WaitForBytes(2));
    connection.SetCommsWatcher(nullptr);
    boost::lock_guard<boost::mutex> lock(watcher.mutex);
    EXPECT_EQ(watcher.tx, (ByteVec{1, 2, 3}));
    EXPECT_EQ(watcher.rx, (ByteVec{4, 5}));
}

TEST_F(SerialCommsThreadTest, PortIsHeldExclusively)
{
    SerialCommsThread first(Com(1), nullptr);
    EXPECT_EQ(OpenError(Com(1)), "Requested port is unavailable (error-code 11)");
    // An absent port says why too.
    EXPECT_EQ(OpenError(Com(9)), "Requested port is unavailable (error-code 2)");
}

TEST_F(SerialCommsThreadTest, SettingsThePortCannotTakeLeaveItClosed)
{
    const SerialPortSettings bad[] = {Com(1, 3, 1), Com(1, 0, 0), Com(1, 0, 3),
                                      Com(1, 0, 1, 12345)};
    for (const SerialPortSettings& settings : bad)
        EXPECT_EQ(OpenError(settings), "Failed to init comm port");
    EXPECT_EQ(OpenError(Com(1, 2, 2, 9600)), "opened");
}

TEST_F(SerialCommsThreadTest, PulledAdapterIsReportedExactlyOnce)
{
    Receiver receiver;
    {
        SerialCommsThread connection(Com(1), &receiver);
        connection.Transmit({1});
        ASSERT_EQ(pty.Read(1).size(), 1u);
        pty.CloseMaster();
        ASSERT_TRUE(receiver.WaitForError());
        EXPECT_THROW(connection.Transmit(ByteVec(1025)), Circbuf::Error);
    } // joins the I/O thread: no later report can come
    const std::vector<std::string> errors = receiver.Errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "ReadFile failed (error-code 5)");
}

TEST_F(SerialCommsThreadTest, OwnerMayDestroyTheConnectionInsideTheErrorReport)
{
    struct SelfDestroying : SerialCommsThread::IFeedback {
        // The I/O thread may run before the pointer is stored: both sides take the mutex.
        boost::mutex mutex;
        std::unique_ptr<SerialCommsThread> connection;
        boost::promise<std::string> reported;
        pid_t ioThread = 0;
        void OnConnectionError(CommsConnection* c, const std::exception& e) override
        {
            ioThread = ThisThreadTid();
            std::unique_ptr<SerialCommsThread> last;
            {
                boost::lock_guard<boost::mutex> lock(mutex);
                EXPECT_EQ(c, connection.get());
                last = std::move(connection);
            }
            last.reset();
            // The test may end (and destroy this) as soon as the report is out.
            reported.set_value(e.what());
        }
    } owner;
    {
        boost::lock_guard<boost::mutex> lock(owner.mutex);
        owner.connection.reset(new SerialCommsThread(Com(1), &owner));
    }
    auto reported = owner.reported.get_future();
    pty.CloseMaster();
    ASSERT_EQ(reported.wait_for(generous), boost::future_status::ready);
    EXPECT_EQ(reported.get(), "ReadFile failed (error-code 5)");
    EXPECT_TRUE(WaitUntil([&] { return ThreadHasEnded(owner.ioThread); }));
}

TEST_F(SerialCommsThreadTest, DestroyingFromAnotherThreadReturnsAndReportsNothing)
{
    Receiver receiver;
    auto connection = std::make_shared<SerialCommsThread>(Com(1), &receiver);
    auto destroyed = boost::async(boost::launch::async, [&] { connection.reset(); });
    ASSERT_EQ(destroyed.wait_for(generous), boost::future_status::ready);
    EXPECT_TRUE(receiver.Errors().empty());
    // The port is free again.
    EXPECT_EQ(OpenError(Com(1)), "opened");
}

TEST_F(SerialCommsThreadTest, LastOwnerLettingGoInsideADataSlotEndsTheThread)
{
    Receiver receiver;
    auto connection = std::make_unique<SerialCommsThread>(Com(1), &receiver);
    boost::promise<pid_t> destroyedOn;
    connection->ConnectDataReceived([&](ByteVec& bytes) {
        receiver.OnData(bytes);
        connection.reset(); // on the connection's own I/O thread
        destroyedOn.set_value(ThisThreadTid());
    });
    pty.Write({0x42});
    auto destroyed = destroyedOn.get_future();
    ASSERT_EQ(destroyed.wait_for(generous), boost::future_status::ready);
    const pid_t ioThread = destroyed.get();
    EXPECT_NE(ioThread, ThisThreadTid());
    EXPECT_TRUE(WaitUntil([&] { return ThreadHasEnded(ioThread); }));
    EXPECT_TRUE(receiver.Errors().empty());

    // The program carries on and the port is free for the next connection.
    SerialCommsThread next(Com(1), &receiver);
    next.ConnectDataReceived([&](ByteVec& bytes) { receiver.OnData(bytes); });
    pty.Write({0x43});
    ASSERT_TRUE(receiver.WaitForBytes(2));
    EXPECT_EQ(receiver.Bytes(), (ByteVec{0x42, 0x43}));
}

} // namespace
