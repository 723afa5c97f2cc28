#include <atomic>
#include <chrono>

#include <boost/thread/thread.hpp>

#include "calibration/CalibMaths.h"
#include "comms/ExceptionWithString.h"
#include "tests/calibration/CalibTestSupport.h"

using namespace CalibMaths;

namespace {

// A scripted Input Card behind the tool's datalink; the datalink goes before the card.
class ReadRawAveragedTest : public CalibSettingsTest
{
protected:
    std::size_t RawReads(unsigned index) const
    {
        std::size_t n = 0;
        for (const FakeCardRequest& r : card.Requests())
            n += r.functionCode == 4 && r.address == 65400 + index;
        return n;
    }

    ScriptedRawCard card;
    ModbusMasterDatalink datalink{&card};
    TolvarenCommsCommon comms{datalink};
};

TEST_F(ReadRawAveragedTest, SpreadAgainstAllowanceInUnscaledAndScaledCounts)
{
    settings.sampleDurationMs = 0;
    settings.minSamples = 3;
    card.Script(0, {1000, 1000, 1003});
    EXPECT_THROW_TEXT(ReadRawAveraged(comms, 0, 2), ExceptionWithString,
                      "too much jitter (3 counts) in reading raw val of IO point number 1");
    EXPECT_EQ(RawReads(0), 3u);

    card.Script(0, {1000, 1000, 1003});
    EXPECT_DOUBLE_EQ(ReadRawAveraged(comms, 0, 3), 1001.0);

    // From register-map version 8 a count is 64 register units: the allowance is compared
    // scaled, the message shows what the card sent.
    settings.rawScale = 1.0 / 64.0;
    settings.minSamples = 2;
    card.Script(4, {6400, 6464});
    EXPECT_DOUBLE_EQ(ReadRawAveraged(comms, 4, 1), 100.5);
    card.Script(4, {6400, 6465});
    EXPECT_THROW_TEXT(ReadRawAveraged(comms, 4, 1), ExceptionWithString,
                      "too much jitter (65 counts) in reading raw val of IO point number 5");
}

TEST_F(ReadRawAveragedTest, SampleCountFollowsMinimumAndDuration)
{
    settings.sampleDurationMs = 0;
    for (int minSamples : {0, 1}) {
        card.ClearRequests();
        settings.minSamples = minSamples;
        card.Script(2, {1000, 2000});
        EXPECT_DOUBLE_EQ(ReadRawAveraged(comms, 2, 0), 1000.0);
        EXPECT_EQ(RawReads(2), 1u);
    }

    // A sample duration keeps reading until it has passed, however few samples are asked for.
    card.ClearRequests();
    settings.minSamples = 1;
    settings.sampleDurationMs = 30;
    card.Script(2, {1000, 1001});
    const auto start = std::chrono::steady_clock::now();
    const double averaged = ReadRawAveraged(comms, 2, 1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    const double n = double(RawReads(2));
    EXPECT_GT(n, 1.0);
    EXPECT_DOUBLE_EQ(averaged, (1000.0 + 1001.0 * (n - 1)) / n);
}

TEST_F(ReadRawAveragedTest, SumOfManyFullScaleReadingsDoesNotWrap)
{
    // 65537 readings of 65535 pass 2^32: a 32-bit sum would give a wrong mean.
    settings.sampleDurationMs = 0;
    settings.minSamples = 65537;
    card.Script(1, {65535});
    EXPECT_DOUBLE_EQ(ReadRawAveraged(comms, 1, 0), 65535.0);
}

TEST_F(ReadRawAveragedTest, WaitForTheCardIsAnInterruptionPoint)
{
    card.SetDropAllReplies(true);
    std::atomic<bool> interrupted{false};
    boost::thread run([&] {
        try {
            ReadRawAveraged(comms, 0, 1);
        } catch (const boost::thread_interrupted&) {
            interrupted = true;
        } catch (...) {
        }
    });
    ASSERT_TRUE(card.WaitForRequests(1));
    run.interrupt();
    // Well before the datalink's 1000 ms time-out would end the read.
    ASSERT_TRUE(run.try_join_for(boost::chrono::milliseconds(800)));
    EXPECT_TRUE(interrupted);
}

TEST_F(ReadRawAveragedTest, SecondReadingTexts)
{
    struct Case
    {
        VerifiedCard card;
        double first, second;
        unsigned allowance, index;
        const char* text; // nullptr: passes
    };
    const Case cases[] = {
        {VerifiedCard::Input, 1000.5, 1002.0, 1, 2,
         "too much jitter2 (-1.5 counts) in reading raw val of IO point number 3"},
        {VerifiedCard::Output, 1000.0, 998.123456, 1, 15,
         "too much jitter(3) (1.87654 counts) in reading raw val of IO point number 16"},
        {VerifiedCard::Input, 1000.0, 1002.0, 2, 0, nullptr},
        {VerifiedCard::Output, 10.0, 9.0, 0, 0,
         "too much jitter(3) (1 counts) in reading raw val of IO point number 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first - c.second);
        if (c.text) {
            EXPECT_THROW_TEXT(CheckSecondReading(c.card, c.index, c.first, c.second, c.allowance),
                              ExceptionWithString, c.text);
        } else {
            EXPECT_NO_THROW(CheckSecondReading(c.card, c.index, c.first, c.second, c.allowance));
        }
    }

    // The verification reads the point again through the card.
    settings.sampleDurationMs = 0;
    settings.minSamples = 1;
    card.Script(6, {1010});
    EXPECT_THROW_TEXT(VerifyRawReading(VerifiedCard::Input, comms, 6, 1000.0, 5),
                      ExceptionWithString,
                      "too much jitter2 (-10 counts) in reading raw val of IO point number 7");
}

} // namespace
