#include "report/SnapshotJson.h"

#include <cmath>

#include <QJsonArray>

#include "protocol/TolvarenCommsCommon.h"
#include "protocol/TolvarenScalingProfile.h"
#include "protocol/TolvarenSnapshot.h"

namespace {

QJsonValue Number(double value)
{
    return std::isfinite(value) ? QJsonValue(value) : QJsonValue(QJsonValue::Null);
}

QJsonValue DateValue(const Tolvaren::Date& date)
{
    if (date.day == 0 && date.month == 0 && date.year == 0)
        return QJsonValue(QJsonValue::Null);
    return QString("%1-%2-%3")
        .arg(date.year, 4, 10, QChar('0'))
        .arg(date.month, 2, 10, QChar('0'))
        .arg(date.day, 2, 10, QChar('0'));
}

template <typename T> T At(const std::vector<T>& values, unsigned index)
{
    return index < values.size() ? values[index] : T();
}

QJsonObject Point(const TolvarenSnapshot& s, bool input, unsigned i)
{
    const auto& labels = input ? s.inputLabels : s.outputLabels;
    const auto& values = input ? s.inputValues : s.outputValues;
    const auto& raws = input ? s.inputRawValues : s.outputRawValues;
    const auto& profiles = input ? s.inputProfileIds : s.outputProfileIds;
    const std::uint16_t profileId = At(profiles, i);

    QJsonObject point;
    point["number"] = int(i + 1);
    point["label"] = CardText(At(labels, i));
    point["value"] = Number(At(values, i));
    point["raw"] = int(At(raws, i));
    point["profileId"] = int(profileId);
    QJsonValue profileName(QJsonValue::Null);
    QJsonValue unit(QJsonValue::Null);
    if (s.scalingProfiles) {
        const auto found = s.scalingProfiles->find(profileId);
        if (found != s.scalingProfiles->end()) {
            profileName = CardText(found->second.name);
            unit = CardText(UnitFromProfileName(found->second.name, true));
        }
    }
    point["profile"] = profileName;
    point["unit"] = unit;
    point["partNumber"] = CardText(At(input ? s.inputPartNumbers : s.outputPartNumbers, i));
    point["lowerLimit"] = int(At(input ? s.inputLowerLimits : s.outputLowerLimits, i));
    point["upperLimit"] = int(At(input ? s.inputUpperLimits : s.outputUpperLimits, i));
    point["offset"] = Number(At(input ? s.inputOffsets : s.outputOffsets, i));
    point["date"] = DateValue(At(input ? s.inputDates : s.outputDates, i));
    point["note"] = CardText(At(input ? s.inputNotes : s.outputNotes, i));
    if (input) {
        QJsonObject stats;
        stats["lowTime"] = double(At(s.longTermLowTime, i));
        stats["highTime"] = double(At(s.longTermHighTime, i));
        stats["pulseCount"] = double(At(s.longTermPulseCount, i));
        point["longTerm"] = stats;
    } else {
        QJsonObject override;
        override["active"] = bool(At(s.overrideActive, i));
        override["value"] = Number(At(s.overrideValues, i));
        point["override"] = override;
        point["safeValue"] = i < s.profiledSafeValues.size() ? Number(s.profiledSafeValues[i])
                                                             : QJsonValue(QJsonValue::Null);
    }
    return point;
}

} // namespace

QJsonObject SnapshotToJson(const TolvarenSnapshot& s)
{
    QJsonObject card;
    card["cardType"] = s.cardType;
    card["cardName"] = s.cardType >= 1 && s.cardType <= 4
                           ? QJsonValue(QString::fromLatin1(TolvarenCardName(s.cardType)))
                           : QJsonValue(QJsonValue::Null);
    card["firmwareVersion"] = CardText(s.firmwareVersion);
    card["registerVersion"] = int(s.registerVersion);
    card["hardwareRevision"] = int(s.hardwareRevision);
    card["serialNumber"] = int(s.serialNumber);
    card["nodeAddress"] = int(s.nodeAddress);
    card["boardVoltage"] = Number(s.boardVoltage);
    card["healthy"] = s.healthy;
    card["calibrated"] = s.calibrated;
    card["resetOccurred"] = s.resetOccurred;
    card["notesSupported"] = s.notesSupported;
    card["numControlModules"] = s.numControlModules;
    card["trafficLogSupported"] = s.trafficLogSupported;
    card["configText"] = CardText(s.configText);

    QJsonObject root;
    root["card"] = card;
    if (s.numOutputs > 0) {
        QJsonObject watchdog;
        watchdog["busOffDelaySeconds"] = int(s.commsDogBusOffDelay);
        watchdog["outputsOffDelaySeconds"] = int(s.commsDogOutputsOffDelay);
        watchdog["state"] = s.commsDogBusOffDelay == 0 ? "disabled"
                            : s.commsDogTriggered      ? "triggered"
                                                       : "healthy";
        watchdog["softDogMinutes"] = s.softDogMinutes;
        root["watchdog"] = watchdog;
    }
    QJsonArray inputs, outputs;
    for (unsigned i = 0; i < s.numInputs; ++i)
        inputs.append(Point(s, true, i));
    for (unsigned i = 0; i < s.numOutputs; ++i)
        outputs.append(Point(s, false, i));
    root["inputs"] = inputs;
    root["outputs"] = outputs;
    QJsonArray profiles;
    if (s.scalingProfiles) {
        for (const auto& entry : *s.scalingProfiles) {
            QJsonObject profile;
            profile["id"] = entry.first;
            profile["name"] = CardText(entry.second.name);
            profile["code"] = CardText(entry.second.code);
            profiles.append(profile);
        }
    }
    root["scalingProfiles"] = profiles;
    return root;
}

QString CardText(const std::string& text)
{
    return QString::fromUtf8(text.data(), int(text.size()));
}
