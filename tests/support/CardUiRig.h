#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <QString>

#include <boost/make_shared.hpp>

#include "modbus/ModbusMasterDatalink.h"
#include "protocol/TolvarenSnapshotGatherer.h"
#include "tests/support/FakeCard.h"

// Readable texts in test failures.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

// A gatherer on a fake card whose snapshot tests fill by hand, for checking how the card face
// shows a given snapshot without composing the registers behind it. Members go in reverse order
// of destruction: gatherer, datalink, card.
struct CardUiRig
{
    FakeCard card;
    ModbusMasterDatalink datalink{&card};
    TolvarenSnapshotGatherer gatherer{datalink};

    // The gatherer hands its snapshot out read-only; it is an ordinary member, so writing it
    // here, while no gathering runs, is sound.
    TolvarenSnapshot& Snapshot() { return const_cast<TolvarenSnapshot&>(gatherer.Snapshot()); }

    // A plausible snapshot of a card after its first full gathering: every vector sized for the
    // point counts, points digital, no options, healthy and calibrated.
    TolvarenSnapshot& Fill(int cardType, std::uint16_t registerVersion, unsigned numInputs,
                           unsigned numOutputs)
    {
        TolvarenSnapshot& s = Snapshot();
        s = TolvarenSnapshot();
        s.cardType = cardType;
        s.registerVersion = registerVersion;
        s.firmwareVersion = "2.10";
        s.hardwareRevision = 1;
        s.serialNumber = 4321;
        s.nodeAddress = 5;
        s.numInputs = numInputs;
        s.numOutputs = numOutputs;
        s.scalingProfiles = boost::make_shared<std::map<int, TolvarenScalingProfile>>();
        (*s.scalingProfiles)[0] = TolvarenScalingProfile("Voltage 0-10V <-> 0-100%", "P0");
        (*s.scalingProfiles)[1] = TolvarenScalingProfile("Voltage 0-10V <-> lower-upper", "C");
        (*s.scalingProfiles)[2] = TolvarenScalingProfile("Current 4-20mA <-> 0-100%", "C");
        (*s.scalingProfiles)[3] = TolvarenScalingProfile("Resistance in Ohms", "R1");
        (*s.scalingProfiles)[0xFFFF] = TolvarenScalingProfile("Digital", "");
        Size(numInputs, s.inputLabels, s.inputOffsets, s.inputProfileIds, s.inputLowerLimits,
             s.inputUpperLimits, s.inputPartNumbers, s.inputDates, s.inputNotes, s.inputValues,
             s.inputRawValues);
        Size(numOutputs, s.outputLabels, s.outputOffsets, s.outputProfileIds, s.outputLowerLimits,
             s.outputUpperLimits, s.outputPartNumbers, s.outputDates, s.outputNotes, s.outputValues,
             s.outputRawValues);
        const unsigned overrides = cardType == 1 ? numInputs : numOutputs;
        s.overrideValues.assign(overrides, 0.0f);
        s.overrideActive.assign(overrides, false);
        s.longTermLowTime.assign(numInputs, 0);
        s.longTermHighTime.assign(numInputs, 0);
        s.longTermPulseCount.assign(numInputs, 0);
        if (registerVersion > 9)
            s.profiledSafeValues.assign(numOutputs, 0.0f);
        s.notesSupported = registerVersion > 5;
        s.healthy = true;
        s.calibrated = true;
        s.boardVoltage = 24.0f;
        s.fullGathering = true;
        return s;
    }

private:
    static void Size(unsigned n, std::vector<std::string>& labels, std::vector<float>& offsets,
                     std::vector<std::uint16_t>& profileIds, std::vector<std::int16_t>& lower,
                     std::vector<std::int16_t>& upper, std::vector<std::string>& partNumbers,
                     std::vector<Tolvaren::Date>& dates, std::vector<std::string>& notes,
                     std::vector<float>& values, std::vector<std::uint16_t>& rawValues)
    {
        labels.assign(n, std::string());
        for (unsigned i = 0; i < n; ++i)
            labels[i] = "Point " + std::to_string(i + 1);
        offsets.assign(n, 0.0f);
        profileIds.assign(n, 0xFFFF);
        lower.assign(n, 0);
        upper.assign(n, 100);
        partNumbers.assign(n, std::string());
        dates.assign(n, Tolvaren::Date());
        notes.assign(n, std::string());
        values.assign(n, 0.0f);
        rawValues.assign(n, 0);
    }
};
