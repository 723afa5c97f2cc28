// The tool's own stack (auto-reconnecting comms, datalink, card access, snapshot gatherer, as
// the main window builds them) against tolvaren-sim on a pseudo-terminal, with each fault of the
// line switched on and off while they talk.

#include <cctype>
#include <chrono>
#include <iostream>
#include <memory>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "modbus/ModbusErrors.h"
#include "protocol/TolvarenCommsCommon.h"
#include "protocol/TolvarenSnapshotGatherer.h"
#include "tests/support/FutureWait.h"
#include "tests/support/PtyPair.h"
#include "tests/support/ServedCardLink.h"

namespace {

using Clock = std::chrono::steady_clock;

enum class Outcome {
    TimedOut,       // "No reply from node"
    ExceptionReply, // the card's exception code and its text
    Gathered,       // the reply is taken, the gathering succeeds
    PortLost,       // the port goes down, the gathering times out, the port comes back
};

struct FaultCase
{
    const char* text; // as written to the served card's control pipe after "f "
    Outcome outcome;
};

std::ostream& operator<<(std::ostream& out, const FaultCase& c)
{
    return out << c.text;
}

const unsigned numOutputs = 24;
const std::uint16_t busOffDelay = 7;
const std::uint16_t outputsOffDelay = 11;

// Distinct per output, so that a reply taken for the wrong request shows.
float OutputValue(unsigned index)
{
    return 10.5f + float(index);
}

class ServedCardFaultMatrixTest : public ::testing::TestWithParam<FaultCase>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_control = m_dir.path().toStdString() + "/control";
        // Through a link, which follows the port should it come back at another path after a
        // hang-up (another program may take the old one meanwhile).
        m_link.reset(
            new ServedCardLink(TOLVAREN_SIM_PROGRAM, {"--control", m_control, "--link",
                                                      m_dir.path().toStdString() + "/card"}));
        TolvarenCommsCommon card(m_link->Datalink());
        for (unsigned i = 0; i < numOutputs; ++i)
            card.SetOutputValue(i, OutputValue(i)).get();
        card.SetCommsDogBusOffDelay(busOffDelay).get();
        card.SetCommsDogOutputsOffDelay(outputsOffDelay).get();
    }

    // Writes a command to the served card and waits for the line that confirms it.
    void Command(const std::string& line, const std::string& confirmation)
    {
        const int fd = ::open(m_control.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const std::string text = line + "\n";
        ASSERT_EQ(::write(fd, text.data(), text.size()), ssize_t(text.size()));
        ::close(fd);
        ASSERT_TRUE(m_link->Process().LineStartingWith(confirmation)) << m_link->Process().Output();
    }

    // A new gatherer reads everything, as the main window's does after any failure.
    void NewGatherer() { m_gatherer.reset(new TolvarenSnapshotGatherer(m_link->Datalink())); }

    QTemporaryDir m_dir;
    std::string m_control;
    std::unique_ptr<ServedCardLink> m_link;
    std::unique_ptr<TolvarenSnapshotGatherer> m_gatherer;
};

// What the card holds, and what a clean gathering read of it: the values written above, and
// everything else equal to the reference gathering. Inputs, their raw values and statistics
// follow the simulated plant, so only their shape is compared.
void ExpectTheCard(const TolvarenSnapshot& s, const TolvarenSnapshot& reference)
{
    EXPECT_EQ(s.cardType, reference.cardType);
    EXPECT_EQ(s.firmwareVersion, reference.firmwareVersion);
    EXPECT_EQ(s.registerVersion, reference.registerVersion);
    EXPECT_EQ(s.serialNumber, reference.serialNumber);
    EXPECT_EQ(s.hardwareRevision, reference.hardwareRevision);
    EXPECT_EQ(s.nodeAddress, reference.nodeAddress);
    EXPECT_EQ(s.inputLabels, reference.inputLabels);
    EXPECT_EQ(s.outputLabels, reference.outputLabels);
    EXPECT_EQ(s.inputPartNumbers, reference.inputPartNumbers);
    EXPECT_EQ(s.outputDates, reference.outputDates);
    EXPECT_EQ(s.inputOffsets, reference.inputOffsets);
    EXPECT_EQ(s.outputProfileIds, reference.outputProfileIds);
    EXPECT_EQ(s.inputLowerLimits, reference.inputLowerLimits);
    EXPECT_EQ(s.outputUpperLimits, reference.outputUpperLimits);
    EXPECT_EQ(s.inputNotes, reference.inputNotes);
    EXPECT_EQ(s.numControlModules, reference.numControlModules);
    EXPECT_EQ(s.configText, reference.configText);
    ASSERT_TRUE(s.scalingProfiles);
    EXPECT_EQ(s.scalingProfiles->size(), reference.scalingProfiles->size());
    for (const auto& entry : *reference.scalingProfiles)
        EXPECT_EQ(s.scalingProfiles->at(entry.first).name, entry.second.name) << entry.first;

    EXPECT_FLOAT_EQ(s.boardVoltage, reference.boardVoltage);
    ASSERT_EQ(s.outputValues.size(), numOutputs);
    ASSERT_EQ(reference.overrideActive.size(), numOutputs);
    for (unsigned i = 0; i < numOutputs; ++i) {
        // An active override shows instead of the output's own value.
        const float expected =
            reference.overrideActive[i] ? reference.overrideValues[i] : OutputValue(i);
        EXPECT_FLOAT_EQ(s.outputValues[i], expected) << "output " << i;
    }
    EXPECT_EQ(s.outputRawValues, reference.outputRawValues);
    EXPECT_EQ(s.overrideValues, reference.overrideValues);
    EXPECT_EQ(s.overrideActive, reference.overrideActive);
    EXPECT_EQ(s.commsDogBusOffDelay, busOffDelay);
    EXPECT_EQ(s.commsDogOutputsOffDelay, outputsOffDelay);
    EXPECT_EQ(s.healthy, reference.healthy);
    EXPECT_EQ(s.calibrated, reference.calibrated);
    EXPECT_EQ(s.profiledSafeValues, reference.profiledSafeValues);
    EXPECT_EQ(s.softDogMinutes, reference.softDogMinutes);
    EXPECT_EQ(s.inputValues.size(), reference.inputValues.size());
    EXPECT_EQ(s.inputRawValues.size(), reference.inputRawValues.size());
    EXPECT_EQ(s.longTermPulseCount.size(), reference.longTermPulseCount.size());
}

TEST_P(ServedCardFaultMatrixTest, ReportsTheFaultAndGathersTheCardAgainOnceItIsOff)
{
    const FaultCase& c = GetParam();
    const std::string name = std::string(c.text).substr(0, std::string(c.text).find(' '));

    NewGatherer();
    ASSERT_NO_THROW(m_gatherer->RefreshSnapshot().get());
    const TolvarenSnapshot reference = m_gatherer->Snapshot();
    ExpectTheCard(reference, reference);

    Command(std::string("f ") + c.text, "Fault: " + name);
    auto faulted = m_gatherer->RefreshSnapshot();
    std::string reported;
    switch (c.outcome) {
    case Outcome::TimedOut:
    case Outcome::PortLost:
        if (auto error = FutureWait::ErrorAs<Modbus::TimeoutError>(faulted)) {
            EXPECT_EQ(error->Kind(), Modbus::TimeoutErrorKind);
            EXPECT_STREQ(error->what(), "No reply from node");
            reported = error->what();
        }
        break;
    case Outcome::ExceptionReply:
        if (auto error = FutureWait::ErrorAs<Modbus::Error>(faulted)) {
            EXPECT_EQ(error->Kind(), Modbus::ExceptionReply);
            EXPECT_EQ(error->ExceptionCode(), 4);
            EXPECT_STREQ(error->what(), "node returned an error: device failure");
            reported = error->what();
        }
        break;
    case Outcome::Gathered:
        ASSERT_TRUE(FutureWait::Ready(faulted));
        ASSERT_NO_THROW(faulted.get());
        ExpectTheCard(m_gatherer->Snapshot(), reference);
        reported = "gathered";
        break;
    }
    if (c.outcome == Outcome::PortLost) {
        ASSERT_TRUE(m_link->WaitForReports([](const auto& r) { return r.downs >= 1; }));
        EXPECT_FALSE(m_link->Reports().lastDownReason.empty());
        // While away, the port's number stays reserved: a new pseudo-terminal made meanwhile
        // (another program's port) never turns up at the path the tool reopens.
        const std::string& out = m_link->Process().Output();
        const std::size_t on = out.find(" served on ") + 11;
        const std::string servedPath = out.substr(on, out.find(' ', on) - on);
        ASSERT_EQ(servedPath.rfind("/dev/pts/", 0), 0u) << out;
        PtyPair stranger;
        EXPECT_NE(stranger.SlavePath(), servedPath);
        reported += "; port down: " + m_link->Reports().lastDownReason;
    }

    Command("f none", "Fault: none");
    const auto off = Clock::now();
    if (c.outcome == Outcome::PortLost) {
        // Back by itself, at the same path, without anyone choosing the port again.
        ASSERT_TRUE(m_link->WaitForReports([](const auto& r) { return r.ups >= 2; }));
        EXPECT_TRUE(m_link->Comms().IsCommsUp());
        EXPECT_EQ(m_link->Comms().GetCurrentCommPort(), 300);
    }
    if (c.outcome != Outcome::Gathered)
        NewGatherer();
    auto again = m_gatherer->RefreshSnapshot();
    ASSERT_TRUE(FutureWait::Ready(again));
    ASSERT_NO_THROW(again.get());
    const auto recoveredMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - off).count();
    ExpectTheCard(m_gatherer->Snapshot(), reference);

    // Nothing left over: no request still queued in the tool (changing the interface would
    // throw), no reply still held back on the card's side.
    EXPECT_NO_THROW(m_link->Datalink().SetCommsInterface(&m_link->Comms()));
    Command("s", "Stats: ");
    EXPECT_NE(m_link->Process().Output().rfind(", held 0, fault none"), std::string::npos)
        << m_link->Process().Output();
    std::cout << "[ fault    ] " << c.text << " | " << reported << " | recovered in " << recoveredMs
              << " ms" << std::endl;
}

const FaultCase faultCases[] = {
    {"no-reply", Outcome::TimedOut},       {"late-reply", Outcome::TimedOut},
    {"bad-crc", Outcome::TimedOut},        {"garbage", Outcome::Gathered},
    {"chunks", Outcome::Gathered},         {"exception", Outcome::ExceptionReply},
    {"hangup ms=1500", Outcome::PortLost},
};

INSTANTIATE_TEST_SUITE_P(Faults, ServedCardFaultMatrixTest, ::testing::ValuesIn(faultCases),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                             std::string name;
                             for (const char* p = info.param.text; *p && *p != ' '; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

} // namespace
