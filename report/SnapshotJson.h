#pragma once

#include <string>

#include <QJsonObject>
#include <QString>

struct TolvarenSnapshot;

// The whole of a gathered card as JSON, for `tolvaren-cli dump` and as the card report's "as
// found" and "as left" (see CardReportData.h):
//   card      identity and state (type and name, firmware, versions, serial number, node
//             address, board voltage, health, calibration, reset flag, configuration text, ...)
//   watchdog  CommsDog delays and state, SoftDog minutes (cards with outputs only)
//   inputs, outputs
//             one object per point: number (1-based), label, value, raw value, unit, profile id,
//             profile name, part number, lower and upper limit, offset, date (YYYY-MM-DD, null
//             when the card holds none), note; outputs also override {active, value} and their
//             safe value; inputs their long-term statistics
//   scalingProfiles  the card's catalogue: id, name, code
// Values that are not numbers (a NaN sample) are null. Texts are the card's UTF-8.
QJsonObject SnapshotToJson(const TolvarenSnapshot& snapshot);

// A text the card holds (UTF-8, every byte kept) as a QString.
QString CardText(const std::string& text);
