#include <cstring>

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

#include <gtest/gtest.h>

#include "comms/AutoReconnectSerialComms.h"
#include "modbus/ModbusErrors.h"
#include "modbus/ModbusMaster.h"
#include "modbus/ModbusMasterDatalink.h"
#include "tests/serialpeer/LibmodbusPeer.h"
#include "tests/support/FakeSysfs.h"
#include "tests/support/PtyPair.h"

namespace {

const boost::chrono::seconds generous(10);

class UpWaiter : public IAutoReconnectSerialCommsFeedback
{
public:
    void OnCommsUp(int port) override
    {
        boost::lock_guard<boost::mutex> lock(m_mutex);
        m_port = port;
        m_changed.notify_all();
    }
    int WaitForUp()
    {
        boost::unique_lock<boost::mutex> lock(m_mutex);
        m_changed.wait_for(lock, generous, [&] { return m_port >= 0; });
        return m_port;
    }

private:
    boost::mutex m_mutex;
    boost::condition_variable m_changed;
    int m_port = -1;
};

// A float as the cards keep it: two registers, high word first.
void SetFloat(float value, uint16_t* registers)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    registers[0] = uint16_t(bits >> 16);
    registers[1] = uint16_t(bits);
}

template <typename T>
T Get(boost::future<T> f)
{
    if (f.wait_for(generous) != boost::future_status::ready)
        throw std::runtime_error("no result");
    return f.get();
}

void Get(boost::future<void> f)
{
    if (f.wait_for(generous) != boost::future_status::ready)
        throw std::runtime_error("no result");
    f.get();
}

// Our whole serial stack (port choice, I/O thread, datalink, function layer) against a libmodbus
// slave on the far end of a pseudo-terminal.
class LibmodbusSlaveTest : public ::testing::Test
{
protected:
    LibmodbusSlaveTest()
    {
        sysfs.AddUsbAdapter("ttyUSB0", pty.SlavePath(), "FT232R USB UART");
        SerialPortSettings settings;
        settings.port = 0; // automatic: the one adapter there is
        comms.reset(new AutoReconnectSerialComms(&feedback, settings));
        datalink.reset(new ModbusMasterDatalink(comms.get()));
        master.reset(new ModbusMaster(*datalink));
    }
    ~LibmodbusSlaveTest() override
    {
        master.reset();
        datalink.reset();
        comms.reset();
    }

    PtyPair pty;
    FakeSysfs sysfs;
    UpWaiter feedback;
    LibmodbusSlave slave{pty.MasterFd(), 100, [](modbus_mapping_t* map) {
                             for (int i = 0; i < 100; ++i) {
                                 map->tab_registers[i] = uint16_t(1000 + i);
                                 map->tab_input_registers[i] = uint16_t(2000 + i);
                                 map->tab_bits[i] = uint8_t(i % 3 == 0);
                                 map->tab_input_bits[i] = uint8_t(i % 2);
                             }
                             SetFloat(3.25f, &map->tab_registers[50]);
                             SetFloat(-12.5f, &map->tab_input_registers[60]);
                         }};
    std::unique_ptr<AutoReconnectSerialComms> comms;
    std::unique_ptr<ModbusMasterDatalink> datalink;
    std::unique_ptr<ModbusMaster> master;
};

TEST_F(LibmodbusSlaveTest, ReadsEveryKindOfItem)
{
    ASSERT_EQ(feedback.WaitForUp(), 200);
    EXPECT_EQ(Get(master->ReadHoldingRegister(7)), 1007);
    EXPECT_EQ(Get(master->ReadInputRegister(99)), 2099);
    EXPECT_EQ(Get(master->ReadRegistersUInt16(ModbusMaster::HoldingRegisters, 10, 48)).back(),
              1057);
    EXPECT_EQ(Get(master->ReadRegistersUInt16(ModbusMaster::InputRegisters, 0, 3)),
              (std::vector<unsigned short>{2000, 2001, 2002}));
    EXPECT_EQ(Get(master->ReadFloat(ModbusMaster::HoldingRegisters, 50)), 3.25f);
    EXPECT_EQ(Get(master->ReadFloat(ModbusMaster::InputRegisters, 60)), -12.5f);
    EXPECT_EQ(Get(master->ReadBits(true, 0, 10)),
              (std::vector<bool>{1, 0, 0, 1, 0, 0, 1, 0, 0, 1}));
    EXPECT_EQ(Get(master->ReadBits(false, 3, 4)), (std::vector<bool>{1, 0, 1, 0}));
}

TEST_F(LibmodbusSlaveTest, WritesAreReadBack)
{
    ASSERT_EQ(feedback.WaitForUp(), 200);
    Get(master->WriteRegisterUInt16(20, 0xBEEF));
    EXPECT_EQ(Get(master->ReadHoldingRegister(20)), 0xBEEF);
    Get(master->WriteRegisterInt16(21, -2));
    EXPECT_EQ(Get(master->ReadRegistersInt16(ModbusMaster::HoldingRegisters, 21, 1)).front(), -2);
    Get(master->WriteFloat(30, 1.5e-3f));
    EXPECT_EQ(Get(master->ReadFloat(ModbusMaster::HoldingRegisters, 30)), 1.5e-3f);
    Get(master->WriteUInt32(32, 0x12345678u));
    EXPECT_EQ(Get(master->ReadRegistersUInt16(ModbusMaster::HoldingRegisters, 32, 2)),
              (std::vector<unsigned short>{0x1234, 0x5678}));
    Get(master->WriteCoil(1, true));
    Get(master->WriteCoil(0, false));
    EXPECT_EQ(Get(master->ReadBits(true, 0, 2)), (std::vector<bool>{0, 1}));
    Get(master->WriteRegistersString(40, "Pump 17", 0)); // padded with a zero to 8 bytes
    EXPECT_EQ(Get(master->ReadRegistersAsString(ModbusMaster::HoldingRegisters, 40, 8)),
              "Pump 17");
}

TEST_F(LibmodbusSlaveTest, IllegalAddressIsAnExceptionReply)
{
    ASSERT_EQ(feedback.WaitForUp(), 200);
    try {
        Get(master->ReadHoldingRegister(500));
        ADD_FAILURE() << "read a register that is not there";
    } catch (const Modbus::Error& e) {
        EXPECT_EQ(e.Kind(), Modbus::ExceptionReply);
        EXPECT_EQ(e.ExceptionCode(), 2);
    }
    // The link carries on.
    EXPECT_EQ(Get(master->ReadHoldingRegister(0)), 1000);
}

} // namespace
