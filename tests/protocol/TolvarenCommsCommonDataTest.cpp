#include <cmath>
#include <string>
#include <typeinfo>
#include <vector>

#include <boost/throw_exception.hpp>
#include <gtest/gtest.h>

#include "protocol/ProtocolBytes.h"
#include "protocol/TolvarenCommsCommon.h"
#include "tests/protocol/FakeCardRig.h"
#include "tests/support/ExpectThrowText.h"

using namespace Tolvaren;

namespace {

ByteVec Floats(unsigned char count, std::vector<float> values)
{
    ByteVec bytes{count};
    for (float v : values)
        ProtocolBytes::AppendFloatBE(bytes, v);
    return bytes;
}

// A sample payload and what becomes of it: the samples, or an error of this type and text.
struct SampleCase
{
    const char* what;
    ByteVec payload;
    std::vector<float> samples;
    const std::type_info* error;
    const char* text;
};

std::vector<SampleCase> SampleCases()
{
    const std::type_info* none = nullptr;
    return {
        {"empty",
         {},
         {},
         &Thrown<Modbus::ReplyTooShortError>(),
         "reply zero length (invalid request?)"},
        {"no samples", {0}, {}, none, ""},
        {"two samples", Floats(2, {1.5f, -2.0f}), {1.5f, -2.0f}, none, ""},
        {"one float short",
         Floats(2, {1.5f}),
         {},
         &Thrown<Modbus::ReplyTooShortError>(),
         "reply not long enough yet"},
        {"a byte short",
         ByteVec{1, 0x3f, 0xc0, 0},
         {},
         &Thrown<Modbus::ReplyTooShortError>(),
         "reply not long enough yet"},
        {"a byte over",
         Floats(1, {1.5f}) + ByteVec{0},
         {},
         &Thrown<Modbus::Error>(),
         "reply too long"},
        {"count says none", Floats(0, {1.5f}), {}, &Thrown<Modbus::Error>(), "reply too long"},
    };
}

// Runs parse and compares with the case; parse returns the samples or throws.
template <class Parse> void Check(const SampleCase& c, Parse parse)
{
    SCOPED_TRACE(c.what);
    try {
        const std::vector<float> samples = parse();
        EXPECT_EQ(c.error, nullptr) << "no error";
        EXPECT_EQ(samples, c.samples);
    } catch (const std::exception& e) {
        ASSERT_NE(c.error, nullptr) << "unexpected " << e.what();
        EXPECT_EQ(typeid(e), *c.error) << typeid(e).name();
        EXPECT_STREQ(e.what(), c.text);
    }
}

TEST(TolvarenCommsCommonDataTest, ParseSamples)
{
    for (const SampleCase& c : SampleCases())
        Check(c, [&] { return TolvarenCommsCommon::ParseSamples(c.payload); });

    // Gaps travel as NaN.
    const auto gap = TolvarenCommsCommon::ParseSamples(ByteVec{1, 0x7f, 0xc0, 0, 0});
    ASSERT_EQ(gap.size(), 1u);
    EXPECT_TRUE(std::isnan(gap[0]));
}

// Through the card: a short live-data reply is the request heard back and counts as a missing
// reply; the 8-day read reports the same payloads as they are.
TEST(TolvarenCommsCommonDataTest, LiveAndHistoricalRepliesFromTheCard)
{
    FakeCardRig rig(4, 9);
    TolvarenCommsCommon comms(rig.datalink);
    for (SampleCase c : SampleCases()) {
        for (std::uint16_t command : {16, 17}) {
            rig.card.SetVendorHandler(command,
                                      [reply = c.payload](const ByteVec&, ByteVec& payload) {
                                          payload = reply;
                                          return 0;
                                      });
        }
        Check(c, [&] { return comms.GetHistoricalData(Input, 0, 0).get(); });
        if (c.error && *c.error == Thrown<Modbus::ReplyTooShortError>()) {
            c.error = &Thrown<Modbus::TimeoutError>();
            c.text = "actually message was reflected";
        }
        Check(c, [&] { return comms.GetLiveData(Input, 0).get(); });
    }
}

TEST(TolvarenCommsCommonDataTest, RequestPayloads)
{
    FakeCardRig rig(4, 9);
    for (std::uint16_t command : {16, 17}) {
        rig.card.SetVendorHandler(command, [](const ByteVec&, ByteVec& payload) {
            payload = {0};
            return 0;
        });
    }
    TolvarenCommsCommon comms(rig.datalink);
    comms.GetLiveData(Input, 3).get();
    comms.GetLiveData(Output, 23).get();
    comms.GetHistoricalData(Input, 5, 0x1234).get();
    comms.GetHistoricalData(Output, 7, 300).get();

    const auto live = rig.Vendor(16);
    const auto history = rig.Vendor(17);
    ASSERT_EQ(live.size(), 2u);
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(live[0].VendorArguments(), (ByteVec{1, 3}));
    EXPECT_EQ(live[1].VendorArguments(), (ByteVec{0, 23}));
    EXPECT_EQ(history[0].VendorArguments(), (ByteVec{1, 5, 0x12, 0x34}));
    EXPECT_EQ(history[1].VendorArguments(), (ByteVec{0, 7, 0x01, 0x2c}));
    // Plain vendor requests: the version is not needed for either.
    EXPECT_EQ(rig.VersionReads(), 0u);
}

} // namespace
