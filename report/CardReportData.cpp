#include "report/CardReportData.h"

#include <boost/throw_exception.hpp>

#include "comms/ExceptionWithString.h"
#include "report/SnapshotJson.h"

namespace {

struct Field
{
    const char* key;
    const char* subKey; // inside the object under key, or nullptr
    const char* name;
};

const Field pointFields[] = {
    {"label", nullptr, "Label"},
    {"partNumber", nullptr, "Part number"},
    {"profile", nullptr, "Scaling profile"},
    {"lowerLimit", nullptr, "Lower limit"},
    {"upperLimit", nullptr, "Upper limit"},
    {"offset", nullptr, "Offset"},
    {"date", nullptr, "Calibration date"},
    {"note", nullptr, "Note"},
    {"override", "active", "Override"},
    {"override", "value", "Override value"},
    {"safeValue", nullptr, "Safe value"},
};

const Field cardFields[] = {
    {"watchdog", "busOffDelaySeconds", "CommsDog delay until bus-off (s)"},
    {"watchdog", "outputsOffDelaySeconds", "CommsDog delay until remaining outputs off (s)"},
    {"watchdog", "softDogMinutes", "SoftDog delay (min)"},
    {"card", "resetOccurred", "Reset occurred"},
    {"card", "configText", "Dip-switch configuration"},
};

QString Text(const std::string& text)
{
    return QString::fromUtf8(text.data(), int(text.size()));
}

QJsonValue Get(const QJsonObject& object, const Field& field)
{
    const QJsonValue value = object.value(QLatin1String(field.key));
    return field.subKey ? value.toObject().value(QLatin1String(field.subKey)) : value;
}

QString ValueText(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("on") : QStringLiteral("off");
    case QJsonValue::Double:
        return QString::number(value.toDouble(), 'g', 7);
    case QJsonValue::String:
        return value.toString().isEmpty() ? QStringLiteral("(empty)") : value.toString();
    case QJsonValue::Undefined:
        return QStringLiteral("(not read)");
    default:
        return QStringLiteral("(none)");
    }
}

// Numbers compare by the text shown: a float read back may differ in its last binary digit.
bool Differs(const QJsonValue& a, const QJsonValue& b)
{
    return ValueText(a) != ValueText(b);
}

void Add(QJsonArray& changes, const QString& point, const QString& field, const QJsonValue& found,
         const QJsonValue& left)
{
    QJsonObject change;
    change["point"] = point;
    change["field"] = field;
    change["asFound"] = ValueText(found);
    change["asLeft"] = ValueText(left);
    changes.append(change);
}

} // namespace

QJsonObject ReadingToJson(const CardReading& reading)
{
    QJsonObject json = SnapshotToJson(reading.snapshot);
    QJsonArray modules;
    for (const ReportModule& module : reading.modules) {
        QJsonArray parameters;
        for (const ReportModule::Parameter& p : module.parameters) {
            QJsonObject parameter;
            parameter["name"] = Text(p.name);
            parameter["value"] = Text(p.value);
            parameter["unit"] = Text(p.unit);
            parameter["writable"] = p.writable;
            parameters.append(parameter);
        }
        QJsonObject entry;
        entry["name"] = Text(module.name);
        entry["parameters"] = parameters;
        modules.append(entry);
    }
    json["modules"] = modules;
    return json;
}

QJsonArray FindChanges(const QJsonObject& asFound, const QJsonObject& asLeft)
{
    const QJsonObject foundCard = asFound.value("card").toObject();
    const QJsonObject leftCard = asLeft.value("card").toObject();
    if (!foundCard.value("serialNumber").isDouble() || !foundCard.value("cardType").isDouble())
        boost::throw_exception(
            ExceptionWithString("the as-found reading holds no card (expected the output of "
                                "tolvaren-cli dump --json or report --json)"));
    if (foundCard.value("serialNumber") != leftCard.value("serialNumber") ||
        foundCard.value("cardType") != leftCard.value("cardType")) {
        boost::throw_exception(ExceptionWithString(
            "the as-found reading is of another card (serial number " +
            QString::number(foundCard.value("serialNumber").toInt()).toStdString() +
            ", this card " + QString::number(leftCard.value("serialNumber").toInt()).toStdString() +
            ")"));
    }

    QJsonArray changes;
    for (const Field& field : cardFields) {
        // A card without outputs has no watchdog in either reading: nothing to compare.
        if (!asLeft.contains(QLatin1String(field.key)))
            continue;
        const QJsonValue found = Get(asFound, field), left = Get(asLeft, field);
        if (Differs(found, left))
            Add(changes, QStringLiteral("Card"), field.name, found, left);
    }
    for (const char* direction : {"inputs", "outputs"}) {
        const QJsonArray found = asFound.value(direction).toArray();
        const QJsonArray left = asLeft.value(direction).toArray();
        const QString name =
            direction[0] == 'i' ? QStringLiteral("Input %1") : QStringLiteral("Output %1");
        for (int i = 0; i < left.size(); ++i) {
            const QJsonObject point = left[i].toObject();
            const QJsonObject before = i < found.size() ? found[i].toObject() : QJsonObject();
            for (const Field& field : pointFields) {
                if (!point.contains(QLatin1String(field.key)))
                    continue;
                const QJsonValue a = Get(before, field), b = Get(point, field);
                if (Differs(a, b))
                    Add(changes, name.arg(i + 1), field.name, a, b);
            }
        }
    }
    // Module parameters only when the earlier reading has them (a dump has none); writable ones
    // only, the others are measurements.
    if (asFound.contains("modules")) {
        const QJsonArray found = asFound.value("modules").toArray();
        const QJsonArray left = asLeft.value("modules").toArray();
        for (int m = 0; m < left.size(); ++m) {
            const QJsonObject module = left[m].toObject();
            QJsonObject before;
            for (const QJsonValue p : found.at(m).toObject().value("parameters").toArray())
                before[p.toObject().value("name").toString()] = p.toObject().value("value");
            for (const QJsonValue p : module.value("parameters").toArray()) {
                const QJsonObject parameter = p.toObject();
                if (!parameter.value("writable").toBool())
                    continue;
                const QJsonValue a = before.value(parameter.value("name").toString());
                if (Differs(a, parameter.value("value")))
                    Add(changes, module.value("name").toString(),
                        parameter.value("name").toString(), a, parameter.value("value"));
            }
        }
    }
    return changes;
}

QJsonObject BuildReportData(const CardReading& reading, const ReportContext& context)
{
    QJsonObject data = ReadingToJson(reading);
    QJsonObject report;
    report["made"] = context.made.toString(Qt::ISODate);
    report["toolVersion"] = QStringLiteral(TOLVAREN_VERSION_TEXT);
    report["port"] = context.port;
    const bool earlier = !context.asFound.isEmpty();
    report["asFound"] = earlier ? context.asFoundSource
                                : QStringLiteral("this reading (no earlier reading of the card)");
    data["report"] = report;
    data["changes"] = earlier ? FindChanges(context.asFound, data) : QJsonArray();
    data["graphs"] = reading.eightDay.present;
    return data;
}
