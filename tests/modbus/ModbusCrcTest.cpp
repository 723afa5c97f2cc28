#include <cstring>

#include <gtest/gtest.h>

#include "modbus/ModbusCrc.h"

namespace {

TEST(ModbusCrcTest, StandardCheckValue)
{
    const char* text = "123456789";
    EXPECT_EQ(ModbusCrc(reinterpret_cast<const unsigned char*>(text), std::strlen(text)), 0x4B37);
}

TEST(ModbusCrcTest, ReadHoldingRegisterRequestCarries840A)
{
    ByteVec frame{0x01, 0x03, 0x00, 0x00, 0x00, 0x01};
    AppendModbusCrc(frame);
    EXPECT_EQ(frame, (ByteVec{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}));
    EXPECT_TRUE(HasValidModbusCrc(frame.data(), frame.size()));
    frame[3] ^= 1;
    EXPECT_FALSE(HasValidModbusCrc(frame.data(), frame.size()));
    EXPECT_FALSE(HasValidModbusCrc(frame.data(), 3));
}

} // namespace
