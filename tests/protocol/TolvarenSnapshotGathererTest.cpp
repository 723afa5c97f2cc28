#include <atomic>

#include <memory>

#include <boost/thread/thread.hpp>
#include <gtest/gtest.h>

#include "protocol/TolvarenCommsCommon.h"
#include "protocol/TolvarenSnapshotGatherer.h"
#include "simulator/DEDOCardSimulator.h"
#include "tests/protocol/FakeCardRig.h"

using namespace Tolvaren;

namespace {

template <class T, class U> std::vector<T> As(const std::vector<U>& v)
{
    return std::vector<T>(v.begin(), v.end());
}

// Reads of a register block of the given function in [first, last].
std::size_t ReadsBetween(const FakeCardRig& rig, unsigned char function, unsigned first,
                         unsigned last)
{
    std::size_t n = 0;
    for (const auto& r : rig.card.Requests()) {
        n += r.functionCode == function && r.address >= first && r.address <= last;
    }
    return n;
}

TEST(TolvarenSnapshotGathererTest, FullThenIncrementalOfAVersion10Card)
{
    FakeCardRig rig(4, 10);
    rig.content.SetNote(1, "first input");
    rig.content.SetNote(24 + 23, "last output");
    const auto& in = rig.content.Inputs();
    const auto& out = rig.content.Outputs();
    TolvarenSnapshotGatherer gatherer(rig.datalink);
    std::atomic<int> callbacks(0);
    gatherer.SetGatheringOccurringCallback([&] { ++callbacks; });

    gatherer.RefreshSnapshot().get();
    const TolvarenSnapshot& s = gatherer.Snapshot();
    EXPECT_EQ(callbacks, 1);
    EXPECT_TRUE(s.fullGathering);
    EXPECT_EQ(s.cardType, 4);
    EXPECT_EQ(s.firmwareVersion, "1.234");
    EXPECT_EQ(s.registerVersion, 10);
    EXPECT_EQ(s.numInputs, 24u);
    EXPECT_EQ(s.numOutputs, 24u);
    EXPECT_EQ(s.inputLabels, in.labels);
    EXPECT_EQ(s.outputLabels, out.labels);
    EXPECT_EQ(s.inputPartNumbers, in.partNumbers);
    EXPECT_EQ(s.outputDates, out.dates);
    EXPECT_EQ(s.inputOffsets, in.offsets);
    EXPECT_EQ(s.outputOffsets, out.offsets);
    EXPECT_EQ(s.inputProfileIds, in.profileIds);
    EXPECT_EQ(s.outputLowerLimits, out.lowerLimits);
    EXPECT_EQ(s.inputUpperLimits, in.upperLimits);
    EXPECT_TRUE(s.notesSupported);
    EXPECT_EQ(s.inputNotes[1], "first input");
    EXPECT_EQ(s.outputNotes[23], "last output");
    EXPECT_EQ(s.inputNotes[0], "");
    EXPECT_EQ(s.numControlModules, 2);
    EXPECT_TRUE(s.trafficLogSupported);
    EXPECT_EQ(s.configText, FakeCardProtocol::ConfigText());
    ASSERT_TRUE(s.scalingProfiles);
    EXPECT_EQ(s.scalingProfiles->size(), FakeCardProtocol::Profiles().size() + 1);
    EXPECT_EQ(s.scalingProfiles->at(7).name, "Thermistor 10K3A1 HIGH");
    EXPECT_EQ(s.scalingProfiles->at(7).code, "C26");
    EXPECT_EQ(s.scalingProfiles->count(FakeCardProtocol::noProfileName), 0u);
    EXPECT_EQ(s.scalingProfiles->at(0xFFFF).name, "Digital");
    // Dynamic part of the same gathering.
    EXPECT_FLOAT_EQ(s.boardVoltage, 24.0f);
    EXPECT_EQ(s.inputValues, in.values);
    EXPECT_EQ(s.outputValues, out.values);
    EXPECT_EQ(s.overrideValues, out.overrideValues);
    EXPECT_EQ(s.overrideActive, out.overrideActive);
    EXPECT_EQ(s.commsDogBusOffDelay, 30);
    EXPECT_EQ(s.commsDogOutputsOffDelay, 60);
    EXPECT_TRUE(s.commsDogTriggered);
    EXPECT_TRUE(s.healthy);
    EXPECT_TRUE(s.calibrated);
    EXPECT_TRUE(s.resetOccurred);
    EXPECT_EQ(s.inputRawValues, in.rawValues);
    EXPECT_EQ(s.outputRawValues, out.rawValues);
    EXPECT_EQ(s.longTermLowTime, in.lowTimes);
    EXPECT_EQ(s.longTermHighTime, in.highTimes);
    EXPECT_EQ(s.longTermPulseCount, in.pulseCounts);
    EXPECT_EQ(s.profiledSafeValues.size(), 24u);
    EXPECT_FLOAT_EQ(s.profiledSafeValues[3], 1.5f);
    EXPECT_EQ(s.softDogMinutes, 7);

    // The incremental gathering reads only what changes.
    rig.card.ClearRequests();
    rig.card.SetDiscreteInput(908, false);
    rig.card.SetCoil(912, false);
    gatherer.RefreshSnapshot().get();
    EXPECT_FALSE(s.fullGathering);
    EXPECT_EQ(callbacks, 1);
    EXPECT_FALSE(s.healthy);
    EXPECT_FALSE(s.resetOccurred);
    EXPECT_EQ(s.inputLabels, in.labels);
    EXPECT_EQ(ReadsBetween(rig, 3, 9200, 9299) + ReadsBetween(rig, 3, 9500, 9599), 0u);
    EXPECT_TRUE(rig.Vendor(11).empty());
    EXPECT_EQ(ReadsBetween(rig, 4, 9600, 9999), 0u);
    // Each gathering has its own card access object, which learns version and type once.
    EXPECT_EQ(rig.VersionReads(), 1u);
    EXPECT_EQ(rig.Count(4, 910), 1u);
}

TEST(TolvarenSnapshotGathererTest, FirmwareOutsideTheSupportedVersions)
{
    {
        FakeCardRig rig(4, 1);
        TolvarenSnapshotGatherer gatherer(rig.datalink);
        EXPECT_THROW(gatherer.RefreshSnapshot().get(), FirmwareTooOldError);
        EXPECT_EQ(gatherer.Snapshot().cardType, 0);
        // Still unidentified: the next gathering starts over.
        rig.card.ClearRequests();
        EXPECT_THROW(gatherer.RefreshSnapshot().get(), FirmwareTooOldError);
        EXPECT_EQ(rig.Count(4, 902), 1u);
    }
    {
        FakeCardRig rig(4, 11);
        TolvarenSnapshotGatherer gatherer(rig.datalink);
        EXPECT_THROW(gatherer.RefreshSnapshot().get(), FirmwareTooNewError);
        EXPECT_EQ(gatherer.Snapshot().cardType, 0);
    }
    {
        FakeCardRig rig(4, 9);
        rig.card.FailAddress(4, 65433, 2);
        TolvarenSnapshotGatherer gatherer(rig.datalink);
        EXPECT_THROW(gatherer.RefreshSnapshot().get(), FirmwareTooOldError);
    }
    {
        FakeCardRig rig(6, 9);
        TolvarenSnapshotGatherer gatherer(rig.datalink);
        EXPECT_THROW_TEXT(gatherer.RefreshSnapshot().get(), Modbus::Error,
                          "Invalid card type returned");
    }
}

TEST(TolvarenSnapshotGathererTest, Version5ReadsNoPerPointExtras)
{
    FakeCardRig rig(4, 5);
    TolvarenSnapshotGatherer gatherer(rig.datalink);
    gatherer.RefreshSnapshot().get();
    const TolvarenSnapshot& s = gatherer.Snapshot();
    EXPECT_EQ(ReadsBetween(rig, 3, 9500, 9599), 0u);
    EXPECT_EQ(ReadsBetween(rig, 3, 65100, 65199), 0u);
    EXPECT_EQ(ReadsBetween(rig, 3, 9400, 9499), 0u);
    EXPECT_TRUE(rig.Vendor(12).empty());
    EXPECT_EQ(s.inputPartNumbers, std::vector<std::string>(24));
    EXPECT_EQ(s.outputDates, std::vector<Date>(24));
    EXPECT_EQ(s.inputOffsets, std::vector<float>(24, 0.0f));
    EXPECT_FALSE(s.notesSupported);
    // The optional reads still happen (named variable as a float list at this version).
    EXPECT_EQ(s.numControlModules, 2);
    EXPECT_TRUE(s.trafficLogSupported);
    EXPECT_EQ(s.configText, FakeCardProtocol::ConfigText());
    EXPECT_EQ(s.longTermLowTime, std::vector<std::uint32_t>(24, 0));
    EXPECT_EQ(ReadsBetween(rig, 3, 65200, 65399), 0u);
    EXPECT_EQ(rig.Count(1, 912), 0u);
}

TEST(TolvarenSnapshotGathererTest, OptionalReadsThatFailLeaveDefaults)
{
    FakeCardRig rig(4, 9);
    rig.content.RemoveNamedVariable("~NumControlModules");
    rig.card.FailVendorCommand(21, 1);
    rig.card.FailVendorCommand(22, 4);
    TolvarenSnapshotGatherer gatherer(rig.datalink);
    gatherer.RefreshSnapshot().get();
    EXPECT_EQ(gatherer.Snapshot().numControlModules, 0);
    EXPECT_FALSE(gatherer.Snapshot().trafficLogSupported);
    EXPECT_EQ(gatherer.Snapshot().configText, "");
    EXPECT_EQ(gatherer.Snapshot().cardType, 4);
}

TEST(TolvarenSnapshotGathererTest, EmptyFloatListForControlModulesStillGathers)
{
    FakeCardRig rig(4, 6);
    rig.card.SetVendorHandler(19, [](const ByteVec&, ByteVec& payload) {
        payload.clear();
        return 0;
    });
    TolvarenSnapshotGatherer gatherer(rig.datalink);
    gatherer.RefreshSnapshot().get();
    EXPECT_TRUE(gatherer.Snapshot().fullGathering);
    EXPECT_EQ(gatherer.Snapshot().numControlModules, 0);
    EXPECT_EQ(gatherer.Snapshot().configText, FakeCardProtocol::ConfigText());
}

TEST(TolvarenSnapshotGathererTest, InputCardHasNoWatchdogOrOverrides)
{
    FakeCardRig rig(1, 9);
    TolvarenSnapshotGatherer gatherer(rig.datalink);
    gatherer.RefreshSnapshot().get();
    gatherer.RefreshSnapshot().get();
    const TolvarenSnapshot& s = gatherer.Snapshot();
    EXPECT_EQ(rig.Count(3, 590) + rig.Count(3, 591) + rig.Count(2, 590), 0u);
    EXPECT_EQ(s.overrideValues, std::vector<float>(16, 0.0f));
    EXPECT_EQ(s.overrideActive, std::vector<bool>(16, false));
    EXPECT_EQ(s.outputValues.size(), 0u);
    EXPECT_EQ(s.longTermPulseCount, rig.content.Inputs().pulseCounts);
}

TEST(TolvarenSnapshotGathererTest, OutputCardGetsZeroStatistics)
{
    FakeCardRig rig(2, 9);
    TolvarenSnapshotGatherer gatherer(rig.datalink);
    gatherer.RefreshSnapshot().get();
    const TolvarenSnapshot& s = gatherer.Snapshot();
    EXPECT_EQ(ReadsBetween(rig, 3, 65200, 65399), 0u);
    EXPECT_TRUE(s.longTermLowTime.empty()); // no inputs, so no zeros either
    EXPECT_EQ(s.outputLabels, rig.content.Outputs().labels);
    EXPECT_EQ(s.overrideActive, rig.content.Outputs().overrideActive);
    // Version 9 with outputs reads the reset flag but not the version-10 variables.
    EXPECT_EQ(rig.Count(1, 912), 1u);
    EXPECT_TRUE(rig.Vendor(19).size() == 1); // only ~NumControlModules
    EXPECT_TRUE(s.profiledSafeValues.empty());
}

TEST(TolvarenSnapshotGathererTest, Version2HasNoRawValues)
{
    FakeCardRig rig(2, 2);
    TolvarenSnapshotGatherer gatherer(rig.datalink);
    gatherer.RefreshSnapshot().get();
    EXPECT_EQ(rig.Count(3, 65400) + rig.Count(4, 911), 0u);
    EXPECT_EQ(rig.Count(4, 910), 1u);
    EXPECT_FALSE(gatherer.Snapshot().calibrated);
    EXPECT_EQ(gatherer.Snapshot().outputLabels, rig.content.Outputs().labels); // at 9200 + i
}

TEST(TolvarenSnapshotGathererTest, DeviceWithoutPointsIsReadOnce)
{
    FakeCardRig rig(5, 9);
    TolvarenSnapshotGatherer gatherer(rig.datalink);
    gatherer.RefreshSnapshot().get();
    EXPECT_EQ(gatherer.Snapshot().cardType, 5);
    EXPECT_TRUE(gatherer.Snapshot().trafficLogSupported);
    EXPECT_TRUE(gatherer.Snapshot().fullGathering);
    EXPECT_EQ(rig.Count(4, 909), 0u);
    rig.card.ClearRequests();
    gatherer.RefreshSnapshot().get();
    EXPECT_EQ(rig.card.RequestCount(), 0u);
    EXPECT_FALSE(gatherer.Snapshot().fullGathering);
}

TEST(TolvarenSnapshotGathererTest, MalformedSafeValuesEndTheGathering)
{
    FakeCardRig rig(4, 10);
    rig.content.SetNamedVariable("OutputsToSafeMinutes", CPackedVal::FromUInt32(3));
    TolvarenSnapshotGatherer gatherer(rig.datalink);
    EXPECT_THROW_TEXT(gatherer.RefreshSnapshot().get(), ExceptionWithString,
                      "PackedVal is not a float");
    rig.content.SetNamedVariable("OutputsToSafeMinutes", CPackedVal::FromString("1e30"));
    gatherer.RefreshSnapshot().get(); // incremental now: the full part had finished
    EXPECT_EQ(gatherer.Snapshot().softDogMinutes, INT_MAX); // clamped, not undefined
}

TEST(TolvarenSnapshotGathererTest, SecondRefreshWhileTheFirstRuns)
{
    FakeCardRig rig(4, 9);
    TolvarenSnapshotGatherer gatherer(rig.datalink);
    rig.card.HoldReplies();
    boost::future<void> first = gatherer.RefreshSnapshot();
    ASSERT_TRUE(rig.card.WaitForRequests(1));
    EXPECT_THROW_TEXT(gatherer.RefreshSnapshot(), ExceptionWithString,
                      "RefreshSnapshot() already occurring");
    rig.card.ReleaseReplies();
    first.get();
    EXPECT_EQ(gatherer.Snapshot().cardType, 4);
    gatherer.RefreshSnapshot().get();
}

TEST(TolvarenSnapshotGathererTest, ErrorsEndTheGatheringWithTheirType)
{
    FakeCardRig rig(4, 9);
    rig.datalink.SetReplyTimeoutMs(200);
    TolvarenSnapshotGatherer gatherer(rig.datalink);
    gatherer.RefreshSnapshot().get();
    rig.card.SetDropAllReplies(true);
    EXPECT_THROW(gatherer.RefreshSnapshot().get(), Modbus::TimeoutError);
    rig.card.SetDropAllReplies(false);
    gatherer.RefreshSnapshot().get(); // still incremental, card type kept
    EXPECT_FALSE(gatherer.Snapshot().fullGathering);
}

TEST(TolvarenSnapshotGathererTest, SimulatedCardEndToEnd)
{
    DEDOCardSimulator card;
    ModbusMasterDatalink datalink(&card);
    TolvarenSnapshotGatherer gatherer(datalink);
    gatherer.RefreshSnapshot().get();
    const TolvarenSnapshot& s = gatherer.Snapshot();
    EXPECT_TRUE(s.fullGathering);
    EXPECT_EQ(s.cardType, 4);
    EXPECT_EQ(s.firmwareVersion, "1.234");
    EXPECT_EQ(s.registerVersion, 9);
    EXPECT_EQ(s.hardwareRevision, 1);
    EXPECT_EQ(s.nodeAddress, 1);
    EXPECT_EQ(s.numInputs, 24u);
    EXPECT_EQ(s.numOutputs, 24u);
    EXPECT_EQ(s.inputLabels.front(), "Input 1");
    EXPECT_EQ(s.inputLabels.back(), "Input 24");
    EXPECT_EQ(s.outputLabels.front(), "Output 1");
    EXPECT_EQ(s.outputLabels.back(), "Output 24");
    EXPECT_TRUE(s.notesSupported);
    EXPECT_EQ(s.inputNotes, std::vector<std::string>(24));
    EXPECT_EQ(s.inputProfileIds, std::vector<std::uint16_t>(24, 0));
    EXPECT_EQ(s.numControlModules, 0); // the simulated card has no such variable
    EXPECT_TRUE(s.trafficLogSupported);
    EXPECT_EQ(s.configText, "Card simulation with Modbus address of 1");
    ASSERT_TRUE(s.scalingProfiles);
    std::size_t published = 1; // Digital
    for (const auto& p : DEDOCardSimulator::ScalingProfileCatalogue()) {
        if (p.inputKind == 0 || p.inputKind == 3) {
            ++published;
            EXPECT_EQ(s.scalingProfiles->at(p.id).name, p.name);
            EXPECT_EQ(s.scalingProfiles->at(p.id).code, p.code);
        } else {
            EXPECT_EQ(s.scalingProfiles->count(p.id), 0u) << p.name;
        }
    }
    EXPECT_EQ(s.scalingProfiles->size(), published);
    EXPECT_FLOAT_EQ(s.boardVoltage, 24.0f);
    EXPECT_TRUE(s.healthy);
    EXPECT_TRUE(s.calibrated);
    EXPECT_TRUE(s.resetOccurred);
    EXPECT_EQ(s.inputValues, std::vector<float>(24, 0.0f));
    EXPECT_EQ(s.overrideActive, std::vector<bool>(24, false));

    // Incremental: changes made to the card show up, the static part stays.
    card.SetHoldingRegister(9003, ByteVec{0x40, 0x20, 0, 0}); // output 3 = 2.5
    card.SetCoil(912, false);
    gatherer.RefreshSnapshot().get();
    EXPECT_FALSE(s.fullGathering);
    EXPECT_FLOAT_EQ(s.outputValues[3], 2.5f);
    EXPECT_FALSE(s.resetOccurred);
    EXPECT_EQ(s.outputLabels.back(), "Output 24");
}

// The exact requests of an incremental gathering, in order: function code and start address (or
// vendor sub-command). Each gathering has a new card access object, which learns the card type
// (910) before the first bulk read and the register-map version (65433) before the first read
// whose address depends on it.
struct IncrementalCase
{
    int cardType;
    std::uint16_t version;
    std::vector<std::pair<int, unsigned>> requests;
};

TEST(TolvarenSnapshotGathererTest, IncrementalGatheringSendsTheSameRequestsInOrder)
{
    const std::vector<IncrementalCase> cases = {
        {4, 10,
         {{4, 904}, {4, 910}, {4, 9000}, {3, 9000}, {4, 65433}, {3, 9350}, {1, 9350},
          {3, 590}, {3, 591}, {2, 590}, {2, 908}, {4, 65400}, {3, 65400}, {4, 911},
          {3, 65250}, {3, 65200}, {3, 65300}, {1, 912}, {100, 19}, {100, 19}}},
        {1, 9,
         {{4, 904}, {4, 910}, {4, 9000}, {2, 908}, {4, 65400}, {4, 911}, {3, 65250},
          {3, 65200}, {3, 65300}, {1, 912}}},
        {2, 10,
         {{4, 904}, {4, 910}, {3, 9000}, {4, 65433}, {3, 9350}, {1, 9350}, {3, 590}, {3, 591},
          {2, 590}, {2, 908}, {3, 65400}, {4, 911}, {1, 912}, {100, 19}, {100, 19}}},
        {3, 3,
         {{4, 904}, {4, 910}, {4, 9000}, {3, 9000}, {4, 65433}, {3, 9300}, {1, 9300},
          {3, 590}, {3, 591}, {2, 590}, {2, 908}, {4, 65400}, {3, 65400}, {4, 911}}},
    };
    for (const IncrementalCase& c : cases) {
        SCOPED_TRACE("card type " + std::to_string(c.cardType) + ", version " +
                     std::to_string(c.version));
        FakeCardRig rig(c.cardType, c.version);
        TolvarenSnapshotGatherer gatherer(rig.datalink);
        gatherer.RefreshSnapshot().get();
        for (int round = 0; round < 2; ++round) {
            rig.card.ClearRequests();
            gatherer.RefreshSnapshot().get();
            std::vector<std::pair<int, unsigned>> seen;
            for (const FakeCardRequest& r : rig.card.Requests()) {
                seen.emplace_back(r.functionCode, r.address);
            }
            EXPECT_EQ(seen, c.requests);
        }
    }
}

TEST(TolvarenSnapshotGathererTest, DestroyingTheGathererFinishesTheGatheringAskedFor)
{
    FakeCardRig rig(4, 9);
    // Destroyed before its worker has even taken the gathering.
    boost::future<void> unstarted;
    {
        TolvarenSnapshotGatherer gatherer(rig.datalink);
        unstarted = gatherer.RefreshSnapshot();
    }
    EXPECT_NO_THROW(unstarted.get());

    // Destroyed while a gathering waits for the card.
    auto gatherer = std::make_unique<TolvarenSnapshotGatherer>(rig.datalink);
    gatherer->RefreshSnapshot().get();
    rig.card.ClearRequests();
    rig.card.HoldReplies();
    boost::future<void> running = gatherer->RefreshSnapshot();
    ASSERT_TRUE(rig.card.WaitForRequests(1));
    boost::thread destroyer([&] { gatherer.reset(); });
    rig.card.ReleaseReplies();
    destroyer.join();
    EXPECT_NO_THROW(running.get());
    EXPECT_EQ(rig.Count(1, 912), 1u); // it ran to its end
}

} // namespace
