#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include "report/CardReading.h"

// The content of a card report as one JSON object (what `tolvaren-cli report --json` prints):
//   report    when it was made, the tool's version, the port, where the "as found" came from
//   card, watchdog, inputs, outputs, scalingProfiles
//             the card as left, as `tolvaren-cli dump --json` shows it
//   modules   each control module's name and parameters {name, value, unit, writable}
//   changes   {point, field, asFound, asLeft} for every setting that differs between the two
//             readings, texts as the report shows them
//   graphs    whether the report carries the 8-day graphs
// Plain functions; no threads.
struct ReportContext
{
    QDateTime made;
    QString port;
    // A reading of the same card made earlier, as ReadingToJson or `dump --json` gave it; empty
    // when the report's own reading stands for it.
    QJsonObject asFound;
    QString asFoundSource; // said in the report, e.g. "first reading of this connection, 09:12"
};

// The card as read, with its modules: the "as left" side of a report, or a later "as found".
QJsonObject ReadingToJson(const CardReading& reading);

// The settings that differ, in the order the report lists them: card-wide first, then inputs,
// outputs and module parameters. Moving readings (values, raw values, statistics, voltage,
// health) are not settings and never listed. Throws ExceptionWithString when asFound is not a
// reading of a card or is one of another card (type or serial number).
QJsonArray FindChanges(const QJsonObject& asFound, const QJsonObject& asLeft);

QJsonObject BuildReportData(const CardReading& reading, const ReportContext& context);
