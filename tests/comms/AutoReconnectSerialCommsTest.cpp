#include <boost/make_shared.hpp>
#include <boost/thread/future.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

#include <gtest/gtest.h>

#include "comms/AutoReconnectSerialComms.h"
#include "comms/SerialPlatform.h"
#include "tests/support/FakeSysfs.h"
#include "tests/support/PtyPair.h"
#include "tests/support/TestPace.h"
#include "tests/support/WaitUntil.h"

namespace {

SerialPortSettings PortSettings(int port)
{
    SerialPortSettings s;
    s.port = port;
    return s;
}

// Records the reports in order as "up 3", "down 3: reason", "fatal: text".
class Feedback : public IAutoReconnectSerialCommsFeedback
{
public:
    void OnCommsUp(int port) override { Add("up " + std::to_string(port)); }
    void OnCommsDown(int port, const std::string& reason) override
    {
        Add("down " + std::to_string(port) + ": " + reason);
    }
    void HandleIrrecoverableCommsError(const std::string& msg) override { Add("fatal: " + msg); }

    bool WaitForCount(std::size_t n)
    {
        boost::unique_lock<boost::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, generous, [&] { return m_events.size() >= n; });
    }
    std::vector<std::string> Events()
    {
        boost::lock_guard<boost::mutex> lock(m_mutex);
        return m_events;
    }

private:
    void Add(const std::string& event)
    {
        boost::lock_guard<boost::mutex> lock(m_mutex);
        m_events.push_back(event);
        m_changed.notify_all();
    }
    boost::mutex m_mutex;
    boost::condition_variable m_changed;
    std::vector<std::string> m_events;
};

// Collects the bytes the comms deliver.
class Sink
{
public:
    void Take(ByteVec& bytes)
    {
        boost::lock_guard<boost::mutex> lock(m_mutex);
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
        m_changed.notify_all();
    }
    bool WaitFor(std::size_t n)
    {
        boost::unique_lock<boost::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, generous, [&] { return m_bytes.size() >= n; });
    }
    ByteVec Bytes()
    {
        boost::lock_guard<boost::mutex> lock(m_mutex);
        return m_bytes;
    }

private:
    boost::mutex m_mutex;
    boost::condition_variable m_changed;
    ByteVec m_bytes;
};

// An in-process interface standing in for the simulated card.
class Substitute : public ICommsInterface
{
public:
    void Transmit(const ByteVec& bytes) override
    {
        boost::lock_guard<boost::mutex> lock(m_mutex);
        m_sent.insert(m_sent.end(), bytes.begin(), bytes.end());
    }
    boost::signals2::connection ConnectDataReceived(const DataReceivedSignal::slot_type& s) override
    {
        return m_signal.connect(s);
    }
    void Emit(ByteVec bytes) { m_signal(bytes); }
    std::size_t SlotCount() const { return m_signal.num_slots(); }
    ByteVec Sent()
    {
        boost::lock_guard<boost::mutex> lock(m_mutex);
        return m_sent;
    }

private:
    boost::mutex m_mutex;
    ByteVec m_sent;
    DataReceivedSignal m_signal;
};

class AutoReconnectSerialCommsTest : public ::testing::Test
{
protected:
    PtyPair builtIn, usbA, usbB;
    FakeSysfs sysfs;
    Feedback feedback;
    Sink sink;
};

TEST_F(AutoReconnectSerialCommsTest, AutomaticChoiceTakesTheOneUsbAdapterBesideABuiltInPort)
{
    sysfs.AddUart(0, builtIn.SlavePath());
    sysfs.AddUsbAdapter("ttyUSB0", usbA.SlavePath(), "FT232R USB UART");
    AutoReconnectSerialComms comms(&feedback, PortSettings(0));
    comms.ConnectDataReceived([&](ByteVec& b) { sink.Take(b); });
    ASSERT_TRUE(feedback.WaitForCount(1));
    EXPECT_EQ(feedback.Events()[0], "up 200");
    EXPECT_TRUE(comms.IsCommsUp());
    EXPECT_EQ(comms.GetCurrentCommPort(), 200);
    EXPECT_EQ(comms.GetConfiguredCommPort(), 0);

    comms.Transmit({1, 2, 3});
    EXPECT_EQ(usbA.Read(3), (ByteVec{1, 2, 3}));
    usbA.Write({9, 8});
    ASSERT_TRUE(sink.WaitFor(2));
    EXPECT_EQ(sink.Bytes(), (ByteVec{9, 8}));
    EXPECT_TRUE(SerialPlatform::IsPortAvailable(sysfs.DevDir() + "/ttyS0"));
}

TEST_F(AutoReconnectSerialCommsTest, TwoAdaptersNeedTheUserUntilOneIsUnplugged)
{
    sysfs.AddUsbAdapter("ttyUSB0", usbA.SlavePath(), "FT232R USB UART");
    sysfs.AddUsbAdapter("ttyUSB1", usbB.SlavePath(), "CP2102 USB to UART Bridge Controller");
    AutoReconnectSerialComms comms(&feedback, PortSettings(0));
    ASSERT_TRUE(WaitUntil([&] { return comms.ManyPortsAvailable(); }));
    EXPECT_FALSE(comms.IsCommsUp());
    EXPECT_TRUE(feedback.Events().empty());

    // The enumeration keeps repeating: the one left is taken.
    sysfs.Remove("ttyUSB0");
    ASSERT_TRUE(feedback.WaitForCount(1));
    EXPECT_EQ(feedback.Events(), std::vector<std::string>{"up 201"});
    EXPECT_FALSE(comms.ManyPortsAvailable());
}

TEST_F(AutoReconnectSerialCommsTest, AbsentConfiguredPortIsOpenedOnceItAppears)
{
    // Another port present is never considered.
    sysfs.AddUsbAdapter("ttyUSB0", usbA.SlavePath(), "FT232R USB UART");
    AutoReconnectSerialComms comms(&feedback, PortSettings(7));
    EXPECT_EQ(comms.GetConfiguredCommPort(), 7);
    EXPECT_FALSE(comms.IsCommsUp());
    sysfs.AddUart(6, builtIn.SlavePath());
    ASSERT_TRUE(feedback.WaitForCount(1));
    EXPECT_EQ(feedback.Events(), std::vector<std::string>{"up 7"});
    EXPECT_TRUE(SerialPlatform::IsPortAvailable(usbA.SlavePath()));
}

TEST_F(AutoReconnectSerialCommsTest, PulledPortGoesDownOnceAndComesBackUp)
{
    sysfs.AddUsbAdapter("ttyUSB0", usbA.SlavePath(), "FT232R USB UART");
    AutoReconnectSerialComms comms(&feedback, PortSettings(200));
    comms.ConnectDataReceived([&](ByteVec& b) { sink.Take(b); });
    ASSERT_TRUE(feedback.WaitForCount(1));

    usbA.CloseMaster();
    sysfs.Remove("ttyUSB0");
    ASSERT_TRUE(feedback.WaitForCount(2));
    EXPECT_FALSE(comms.IsCommsUp());
    comms.Transmit({1}); // no port: dropped quietly

    PtyPair replugged;
    sysfs.AddUsbAdapter("ttyUSB0", replugged.SlavePath(), "FT232R USB UART");
    ASSERT_TRUE(feedback.WaitForCount(3));
    EXPECT_EQ(feedback.Events(),
              (std::vector<std::string>{"up 200", "down 200: ReadFile failed (error-code 5)",
                                        "up 200"}));
    comms.Transmit({5, 6});
    EXPECT_EQ(replugged.Read(2), (ByteVec{5, 6}));
    replugged.Write({7});
    ASSERT_TRUE(sink.WaitFor(1));
    EXPECT_EQ(sink.Bytes(), ByteVec{7});
}

TEST_F(AutoReconnectSerialCommsTest, ChangingThePortClosesTheOldOneWithoutAReason)
{
    sysfs.AddUart(0, builtIn.SlavePath());
    sysfs.AddUart(1, usbA.SlavePath());
    AutoReconnectSerialComms comms(&feedback, PortSettings(1));
    ASSERT_TRUE(feedback.WaitForCount(1));
    comms.SetCommPort(1);
    comms.SetCommPort(2);
    ASSERT_TRUE(feedback.WaitForCount(3));
    EXPECT_EQ(feedback.Events(), (std::vector<std::string>{"up 1", "down 1: ", "up 2"}));
    EXPECT_TRUE(SerialPlatform::IsPortAvailable(builtIn.SlavePath()));
    comms.Transmit({0x33});
    EXPECT_EQ(usbA.Read(1), ByteVec{0x33});
}

TEST_F(AutoReconnectSerialCommsTest, SubstituteTakesThePortsPlaceAndIsForwardedOnce)
{
    sysfs.AddUart(0, builtIn.SlavePath());
    AutoReconnectSerialComms comms(&feedback, PortSettings(1));
    comms.ConnectDataReceived([&](ByteVec& b) { sink.Take(b); });
    ASSERT_TRUE(feedback.WaitForCount(1));

    auto substitute = boost::make_shared<Substitute>();
    comms.UseCommsInterface(substitute);
    ASSERT_TRUE(feedback.WaitForCount(3));
    EXPECT_TRUE(comms.HasSubstitute());
    EXPECT_EQ(comms.GetCurrentCommPort(), 0);
    comms.Transmit({0x10, 0x20});
    EXPECT_EQ(substitute->Sent(), (ByteVec{0x10, 0x20}));
    EXPECT_TRUE(builtIn.ReadFor(std::chrono::milliseconds(0)).empty());

    // Choosing a port while the substitute is set re-runs the selection for the substitute.
    comms.SetCommPort(0);
    ASSERT_TRUE(feedback.WaitForCount(4));
    comms.SetCommPort(5);
    ASSERT_TRUE(feedback.WaitForCount(5));
    EXPECT_EQ(feedback.Events(),
              (std::vector<std::string>{"up 1", "down 1: ", "up 0", "up 0", "up 0"}));
    EXPECT_EQ(substitute->SlotCount(), 1u);
    substitute->Emit({0xAB, 0xCD});
    ASSERT_TRUE(sink.WaitFor(2));
    EXPECT_EQ(sink.Bytes(), (ByteVec{0xAB, 0xCD}));

    // Back to ports: the substitute is no longer listened to, COM5 is waited for.
    comms.UseCommsInterface(nullptr);
    EXPECT_FALSE(comms.HasSubstitute());
    EXPECT_EQ(substitute->SlotCount(), 0u);
    substitute->Emit({0xEF});
    EXPECT_EQ(sink.Bytes().size(), 2u);
    sysfs.AddUart(4, usbA.SlavePath());
    ASSERT_TRUE(feedback.WaitForCount(6));
    EXPECT_EQ(feedback.Events().back(), "up 5");
}

TEST_F(AutoReconnectSerialCommsTest, ReceiverThatTransmitsUnderItsOwnLockNeverDeadlocks)
{
    // The Modbus datalink holds its lock while it transmits, and takes it in its data slot.
    sysfs.AddUart(0, builtIn.SlavePath());
    AutoReconnectSerialComms comms(&feedback, PortSettings(1));
    boost::mutex receiverLock;
    std::size_t received = 0;
    comms.ConnectDataReceived([&](ByteVec& b) {
        boost::lock_guard<boost::mutex> lock(receiverLock);
        received += b.size();
    });
    ASSERT_TRUE(feedback.WaitForCount(1));

    const int rounds = 1000; // never more than the send queue holds
    auto sender = boost::async(boost::launch::async, [&] {
        for (int i = 0; i < rounds; ++i) {
            boost::lock_guard<boost::mutex> lock(receiverLock);
            comms.Transmit({0x01});
        }
    });
    for (int i = 0; i < rounds; ++i)
        builtIn.Write({0x02});
    ASSERT_EQ(sender.wait_for(generous), boost::future_status::ready);
    sender.get();
    EXPECT_TRUE(WaitUntil([&] {
        boost::lock_guard<boost::mutex> lock(receiverLock);
        return received == std::size_t(rounds);
    }));
    EXPECT_EQ(builtIn.Read(rounds).size(), std::size_t(rounds));
}

} // namespace
