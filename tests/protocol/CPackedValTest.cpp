#include <gtest/gtest.h>

#include "comms/ExceptionWithString.h"
#include "protocol/CPackedVal.h"
#include "tests/protocol/FakeCardRig.h"

namespace {

TEST(CPackedValTest, FloatsFromTagOneOrShortText)
{
    EXPECT_EQ(CPackedVal::FromFloat(50.0f).Bytes(), (ByteVec{1, 0x42, 0x48, 0, 0}));
    EXPECT_FLOAT_EQ(CPackedVal(ByteVec{1, 0x49, 0x5B, 0xBA, 0x00}).AsFloat(), 900000.0f);
    EXPECT_FLOAT_EQ(CPackedVal::FromString("12.5").AsFloat(), 12.5f);
    // 29 characters plus the tag is the longest text taken as a number.
    EXPECT_FLOAT_EQ(CPackedVal::FromString(std::string(27, ' ') + "42").AsFloat(), 42.0f);

    const CPackedVal refused[] = {
        CPackedVal(),
        CPackedVal(ByteVec{1, 0x42, 0x48, 0}),
        CPackedVal(ByteVec{1, 0x42, 0x48, 0, 0, 0}),
        CPackedVal::FromUInt32(5),
        CPackedVal::FromString("abc"),
        CPackedVal::FromString(std::string(28, ' ') + "42"),
        CPackedVal::FromFloatArray({1.0f}),
    };
    for (const CPackedVal& v : refused) {
        EXPECT_THROW_TEXT(v.AsFloat(), ExceptionWithString, "PackedVal is not a float");
    }
}

TEST(CPackedValTest, UInt32FromTagThreeOrText)
{
    EXPECT_EQ(CPackedVal(ByteVec{3, 0, 1, 0, 2}).AsUInt32(), 65538u);
    EXPECT_EQ(CPackedVal::FromUInt32(0xDEADBEEF).AsUInt32(), 0xDEADBEEFu);
    EXPECT_EQ(CPackedVal::FromString("77").AsUInt32(), 77u);
    EXPECT_THROW_TEXT(CPackedVal::FromFloat(1).AsUInt32(), ExceptionWithString,
                      "PackedVal is not a UInt32");
    EXPECT_THROW_TEXT(CPackedVal::FromString("x").AsUInt32(), ExceptionWithString,
                      "PackedVal is not a UInt32");
}

TEST(CPackedValTest, FloatArrays)
{
    EXPECT_EQ(CPackedVal::FromFloatArray({1.5f, -2.0f}).AsFloatArray(),
              (std::vector<float>{1.5f, -2.0f}));
    EXPECT_TRUE(CPackedVal(ByteVec{4}).AsFloatArray().empty());
    EXPECT_THROW_TEXT(CPackedVal().AsFloatArray(), ExceptionWithString,
                      "PackedVal is not a float array");
    EXPECT_THROW_TEXT(CPackedVal::FromFloat(1).AsFloatArray(), ExceptionWithString,
                      "PackedVal is not a float array");
    EXPECT_THROW_TEXT(CPackedVal(ByteVec{4, 1, 2, 3}).AsFloatArray(), ExceptionWithString,
                      "PackedVal is not a valid float array");
}

} // namespace

namespace {

TEST(CPackedValTest, DisplayTextOfEveryTag)
{
    const std::pair<CPackedVal, std::string> shown[] = {
        {CPackedVal::FromFloat(900000.0f), "900000.0000"},
        {CPackedVal::FromFloat(-1.23456f), "-1.2346"},
        {CPackedVal::FromString("pump 3"), "pump 3"},
        {CPackedVal::FromUInt32(4000000000u), "4000000000"},
        {CPackedVal::FromFloatArray({1.5f, 0.0f}), "1.5000, 0.0000, "},
        {CPackedVal(ByteVec{4}), ""},
    };
    for (const auto& s : shown)
        EXPECT_EQ(s.first.DisplayText(), s.second);
    EXPECT_THROW_TEXT(CPackedVal(ByteVec{1, 0, 0}).DisplayText(), ExceptionWithString,
                      "PackedVal is not a float");
    EXPECT_THROW_TEXT(CPackedVal(ByteVec{3, 0}).DisplayText(), ExceptionWithString,
                      "PackedVal is not a UInt32");
    EXPECT_THROW_TEXT(CPackedVal(ByteVec{9, 1}).DisplayText(), ExceptionWithString,
                      "PackedVal is not a string");
}

} // namespace
