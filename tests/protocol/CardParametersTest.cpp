#include <stdexcept>

#include <gtest/gtest.h>

#include "protocol/CardParamsAccessor.h"
#include "protocol/TolvarenCommsCommon.h"
#include "tests/protocol/FakeCardRig.h"

using namespace Tolvaren;

namespace {

typedef FakeCardProtocol::ParameterReplies Replies;

ByteVec Def(const std::string& name, std::uint16_t address, std::uint16_t flags,
            const std::string& units = "")
{
    return FakeCardProtocol::DefinitionReply(name, units, address, flags);
}

TEST(CardParametersTest, DefinitionsWithEnumerationsInSeveralReplies)
{
    FakeCardRig rig(4, 5);
    rig.content.SetParameters({
        {Def("Gain", 300, 0x3902, "%"), {}},
        {Def("Mode", 20, 0x1C00),
         {FakeCardProtocol::EnumReply({{"Off", 0}}),
          FakeCardProtocol::EnumReply({{"On", 1}, {"Auto", 7}})}},
        {ByteVec{0, 0, 0x12, 0x34, 0x00, 0x00}, {}}, // 6 bytes: no name, no units
    });
    TolvarenCommsCommon comms(rig.datalink);
    const CardParamsVec params = comms.GetParameterDefinitions().get();
    ASSERT_EQ(params.size(), 3u);
    EXPECT_EQ(params[0].name, "Gain");
    EXPECT_EQ(params[0].units, "%");
    EXPECT_EQ(params[0].address, 300);
    EXPECT_EQ(params[0].flags, 0x3902);
    EXPECT_TRUE(params[0].enumValues.empty());
    EXPECT_EQ(params[1].enumValues,
              (std::vector<CardParameter::EnumValue>{{"Off", 0}, {"On", 1}, {"Auto", 7}}));
    EXPECT_EQ(params[2].name, "");
    EXPECT_EQ(params[2].address, 0x1234);

    // Sub-command 10 asks for parameter 1 from value 0, then from value 1, then from 3.
    const auto enumRequests = rig.Vendor(10);
    ASSERT_EQ(enumRequests.size(), 3u);
    EXPECT_EQ(enumRequests[0].VendorArguments(), (ByteVec{0, 1, 0, 0}));
    EXPECT_EQ(enumRequests[1].VendorArguments(), (ByteVec{0, 1, 0, 1}));
    EXPECT_EQ(enumRequests[2].VendorArguments(), (ByteVec{0, 1, 0, 3}));
    EXPECT_EQ(rig.Vendor(9).size(), 4u); // three definitions and the empty end
    EXPECT_TRUE(comms.AreCardParamsSupported());
}

TEST(CardParametersTest, MalformedDefinitionsFailTheWholeRead)
{
    struct Case
    {
        Replies replies;
        const char* message;
    } cases[] = {
        {{ByteVec{0, 0, 0x12, 0x34, 0x00, 0x00, 0x00}, {}},
         "Invalid response to QEL_GET_PARAMETER_DEFN"},
        {{ByteVec{0, 0, 0x12, 0x34, 0x00}, {}}, "Invalid response to QEL_GET_PARAMETER_DEFN"},
        {{ByteVec{9, 'a', 0, 0, 0, 0}, {}}, "Invalid response to QEL_GET_PARAMETER_DEFN"},
        {{ByteVec{1, 'a', 5, 0, 0, 0, 0}, {}}, "Invalid response to QEL_GET_PARAMETER_DEFN"},
        {{Def("E", 1, 0x0400), {}}, "an enum type parameter doesn't have any allowed enum values"},
        {{Def("E", 1, 0x0400), {ByteVec{0, 0}}}, "Invalid response to QEL_GET_PARAMETER_ENUM_DEFN"},
        {{Def("E", 1, 0x0400), {ByteVec{2, 'a', 'b', 0}}},
         "Invalid response to QEL_GET_PARAMETER_ENUM_DEFN"},
        {{Def("E", 1, 0x0400), {ByteVec{1, 'a', 0, 1, 5}}},
         "Invalid response to QEL_GET_PARAMETER_ENUM_DEFN"},
    };
    for (const Case& c : cases) {
        FakeCardRig rig(4, 9);
        rig.content.SetParameters({{Def("Fine", 1, 0x3000), {}}, c.replies});
        TolvarenCommsCommon comms(rig.datalink);
        try {
            comms.GetParameterDefinitions().get();
            ADD_FAILURE() << "accepted: " << c.message;
        } catch (const Modbus::Error& e) {
            EXPECT_STREQ(e.what(), c.message);
            EXPECT_EQ(e.Kind(), Modbus::GeneralError);
        }
    }
}

TEST(CardParametersTest, OldFirmwareHasNoParameters)
{
    FakeCardRig rig(4, 4);
    TolvarenCommsCommon comms(rig.datalink);
    EXPECT_THROW(comms.GetParameterDefinitions().get(), FirmwareTooOldError);
    EXPECT_THROW(comms.AreCardParamsSupported(), FirmwareTooOldError);
    EXPECT_TRUE(rig.Vendor(9).empty());

    FakeCardRig empty(4, 5);
    TolvarenCommsCommon emptyComms(empty.datalink);
    EXPECT_FALSE(emptyComms.AreCardParamsSupported());
    EXPECT_TRUE(emptyComms.GetParameterDefinitions().get().empty());
}

TEST(CardParametersTest, NamedVariablesAsPackedValuesFromVersion8)
{
    FakeCardRig rig(4, 8);
    rig.content.SetNamedVariable("Name", CPackedVal::FromString("pump"));
    TolvarenCommsCommon comms(rig.datalink);
    EXPECT_EQ(comms.ReadNamedVariable("Name").get(), CPackedVal::FromString("pump"));
    EXPECT_FLOAT_EQ(comms.ReadNamedVariableAsFloat("OutputsToSafeMinutes").get(), 7.9f);
    EXPECT_EQ(rig.Vendor(19).front().VendorArguments(), (ByteVec{'N', 'a', 'm', 'e'}));

    comms.WriteNamedVariable("Name", CPackedVal::FromString("fan")).get();
    EXPECT_EQ(rig.content.NamedVariableWrites().back(),
              (ByteVec{4, 'N', 'a', 'm', 'e', 2, 'f', 'a', 'n'}));
    EXPECT_EQ(rig.content.NamedVariable("Name"), CPackedVal::FromString("fan"));

    // The name's length travels in one byte: a longer name is refused, not cut.
    const std::size_t writes = rig.content.NamedVariableWrites().size();
    EXPECT_THROW_TEXT(comms.WriteNamedVariable(std::string(256, 'n'), CPackedVal::FromFloat(1))
                          .get(),
                      ExceptionWithString, "variable name is too long");
    EXPECT_EQ(rig.content.NamedVariableWrites().size(), writes);

    try {
        comms.ReadNamedVariable("Missing").get();
        FAIL();
    } catch (const Modbus::Error& e) {
        EXPECT_TRUE(e.IsExceptionReply(2));
    }
}

TEST(CardParametersTest, NamedVariablesAsFloatListsBeforeVersion8)
{
    FakeCardRig rig(4, 7);
    rig.content.SetNamedVariable("Pair", CPackedVal::FromFloatArray({3.5f, 4.5f}));
    TolvarenCommsCommon comms(rig.datalink);
    EXPECT_EQ(comms.ReadNamedVariable("Pair").get(), CPackedVal::FromFloat(3.5f));

    // Written as the bare float, without a tag.
    comms.WriteNamedVariable("Set", CPackedVal::FromString("2")).get();
    EXPECT_EQ(rig.content.NamedVariableWrites().back(), (ByteVec{3, 'S', 'e', 't', 0x40, 0, 0, 0}));
    EXPECT_THROW_TEXT(comms.WriteNamedVariable("Set", CPackedVal::FromString("x")).get(),
                      ExceptionWithString, "PackedVal is not a float");

    rig.card.SetVendorHandler(19, [](const ByteVec&, ByteVec& payload) {
        payload = ByteVec{1, 2, 3};
        return 0;
    });
    EXPECT_THROW_TEXT(comms.ReadNamedVariable("Odd").get(), Modbus::Error,
                      "reply data length for floats not multiple of 4");
    rig.card.SetVendorHandler(19, [](const ByteVec&, ByteVec&) { return 0; });
    EXPECT_THROW(comms.ReadNamedVariable("Empty").get(), std::out_of_range);
}

class CardParamsAccessorTest : public ::testing::Test
{
protected:
    CardParamsAccessorTest() : rig(4, 7) {}

    CardParameter Param(const std::string& name, std::uint16_t address, std::uint16_t flags,
                        std::vector<CardParameter::EnumValue> values = {})
    {
        CardParameter p;
        p.name = name;
        p.address = address;
        p.flags = flags;
        p.enumValues = std::move(values);
        return p;
    }

    std::uint16_t Holding(std::uint16_t address)
    {
        const ByteVec bytes = *rig.card.HoldingRegister(address);
        return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
    }

    FakeCardRig rig;
};

TEST_F(CardParamsAccessorTest, ScaledUnsignedRegister)
{
    // Holding register, writable, unsigned, divide, d = 2; and the same multiplying, signed.
    CardParamsAccessor accessor({Param("Gain", 300, 0x3B02), Param("Big", 301, 0x3802)},
                                rig.datalink);
    rig.card.SetHoldingRegisterUInt16(300, 1234);
    rig.card.SetHoldingRegisterUInt16(301, 12);
    EXPECT_EQ(accessor.ReadValueText(accessor.Params()[0]), "12.34");
    EXPECT_EQ(accessor.ReadValueText(accessor.Params()[1]), "1200");

    accessor.SetValue(0, "12.345").get();
    EXPECT_EQ(Holding(300), 1235);
    EXPECT_THROW_TEXT(accessor.SetValue(0, "-1"), ExceptionWithString, "value cannot be negative");
    EXPECT_THROW_TEXT(accessor.SetValue(0, "655.355"), ExceptionWithString, "value is too large");
    accessor.SetValue(0, "655.35").get();
    EXPECT_EQ(Holding(300), 65535);
    accessor.SetValue(1, "1249").get(); // 12.49 rounds to 12
    EXPECT_EQ(Holding(301), 12);
}

TEST_F(CardParamsAccessorTest, SignedRegisterLimitsAndBadTexts)
{
    CardParamsAccessor accessor({Param("Trim", 310, 0x3800), Param("Shown", 311, 0x3000)},
                                rig.datalink);
    accessor.SetValue(0, "-32768").get();
    EXPECT_EQ(Holding(310), 0x8000);
    EXPECT_EQ(accessor.ReadValueText(accessor.Params()[0]), "-32768");
    accessor.SetValue(0, "-2.5").get();
    EXPECT_EQ(Holding(310), 0xFFFD); // away from zero: -3
    EXPECT_THROW_TEXT(accessor.SetValue(0, "-32769"), ExceptionWithString, "value is too negative");
    EXPECT_THROW_TEXT(accessor.SetValue(0, "32767.5"), ExceptionWithString, "value is too large");
    for (const char* text : {"abc", "12x", "nan", "inf", "1e999"}) {
        EXPECT_THROW_TEXT(accessor.SetValue(0, text), ExceptionWithString,
                          "value is not a valid number");
    }
    EXPECT_THROW_TEXT(accessor.SetValue(0, ""), ExceptionWithString, "value cannot be empty");
    EXPECT_THROW_TEXT(accessor.SetValue(1, "1"), ExceptionWithString, "value is read-only");
    EXPECT_THROW_TEXT(accessor.SetValue(2, "1"), ExceptionWithString, "param index too big");
}

TEST_F(CardParamsAccessorTest, EnumeratedCoil)
{
    CardParamsAccessor accessor({Param("Pump", 40, 0x1C00, {{"Off", 0}, {"On", 1}})}, rig.datalink);
    accessor.SetValue(0, "On").get();
    EXPECT_TRUE(rig.card.Coil(40).value_or(false));
    EXPECT_EQ(accessor.ReadValueText(accessor.Params()[0]), "On");
    EXPECT_THROW_TEXT(accessor.SetValue(0, "on"), ExceptionWithString,
                      "value is not one of the allowed enumerated labels");

    CardParamsAccessor noMatch({Param("Sel", 41, 0x3400, {{"A", 1}})}, rig.datalink);
    rig.card.SetHoldingRegisterUInt16(41, 2);
    EXPECT_EQ(noMatch.ReadValueText(noMatch.Params()[0]), "Invalid value");
}

TEST_F(CardParamsAccessorTest, NamedVariableParameters)
{
    // Version 7: the value travels as a bare float.
    CardParamsAccessor accessor({Param("Setpoint", 0, 0x0800), Param("PumpPNumber", 0, 0x0000),
                                 Param("Mode", 0, 0x0C00, {{"Low", 1}, {"High", 2}})},
                                rig.datalink);
    rig.content.SetNamedVariable("~Setpoint", CPackedVal::FromFloat(21.5f));
    rig.content.SetNamedVariable("~PumpPNumber", CPackedVal::FromFloat(42.0f));
    rig.content.SetNamedVariable("~Mode", CPackedVal::FromFloat(2.0f));
    EXPECT_EQ(accessor.ReadAllValues().get(), (std::vector<std::string>{"21.5", "42", "High"}));

    accessor.SetValue(0, "22.5").get();
    EXPECT_EQ(rig.content.NamedVariableWrites().back(),
              (ByteVec{9, '~', 'S', 'e', 't', 'p', 'o', 'i', 'n', 't', 0x41, 0xB4, 0, 0}));
    accessor.SetValue(2, "Low").get();
    EXPECT_FLOAT_EQ(rig.content.NamedVariable("~Mode").AsFloat(), 1.0f);
    EXPECT_THROW_TEXT(accessor.SetValue(1, "5"), ExceptionWithString, "value is read-only");
}

TEST_F(CardParamsAccessorTest, ReadOnlyKindsAndReadErrors)
{
    CardParamsAccessor accessor({Param("Temp", 50, 0x4901), Param("Alarm", 51, 0x2800)},
                                rig.datalink);
    rig.card.SetInputRegister(50, ByteVec{0xFF, 0x9C}); // -100 signed, shown / 10
    rig.card.SetDiscreteInput(51, true);
    EXPECT_EQ(accessor.ReadAllValues().get(), (std::vector<std::string>{"-10.0", "1"}));
    EXPECT_THROW_TEXT(accessor.SetValue(0, "1"), ExceptionWithString,
                      "value is read-only (Modbus Input Register / Discrete Input)");
    EXPECT_THROW_TEXT(accessor.SetValue(1, "1"), ExceptionWithString,
                      "value is read-only (Modbus Input Register / Discrete Input)");

    rig.card.FailAddress(2, 51, 2);
    EXPECT_THROW_TEXT(accessor.ReadAllValues().get(), ExceptionWithString,
                      "error while reading parameter 'Alarm': node returned an error: illegal "
                      "data address");
    rig.card.ClearFailures();
    rig.datalink.SetReplyTimeoutMs(200);
    rig.card.DropReplies(1);
    EXPECT_THROW(accessor.ReadAllValues().get(), Modbus::TimeoutError);
}

} // namespace
