#include "cardui/IoPointFormats.h"

#include <cmath>

namespace {

// From here on two decimals would write every digit of the number (a float offset of 1e30 has
// 31): such magnitudes are written with six significant digits and an exponent instead.
const double compactFrom = 1e9;

QString Number(float value)
{
    const double v = double(value);
    if (std::isfinite(v) && std::fabs(v) >= compactFrom)
        return QString::number(v, 'g', 6);
    return QString::number(v, 'f', 2);
}

} // namespace

namespace IoPointFormats {

QString Value(float value, unsigned profileId, const QString& unit)
{
    if (profileId == TolvarenScaling::digitalProfileId) {
        if (value == 0.0f)
            return QStringLiteral("0 (low)");
        if (value == 1.0f)
            return QStringLiteral("1 (high)");
    }
    return PlainValue(value, unit);
}

QString PlainValue(float value, const QString& unit)
{
    return QStringLiteral("%1 %2").arg(Number(value), unit);
}

QString Duration(std::uint32_t seconds)
{
    const QChar zero('0');
    return QStringLiteral("%1 : %2 : %3")
        .arg(seconds / 3600, 2, 10, zero)
        .arg((seconds % 3600) / 60, 2, 10, zero)
        .arg(seconds % 60, 2, 10, zero);
}

QString ValueReference(unsigned nodeAddress, Tolvaren::IoDirection dir, unsigned index,
                       unsigned profileId,
                       const std::map<int, TolvarenScalingProfile>& allowedProfiles)
{
    const bool output = dir == Tolvaren::Output;
    if (profileId == TolvarenScaling::digitalProfileId) {
        return QStringLiteral("A%1.%2%3.A")
            .arg(nodeAddress)
            .arg(output ? QStringLiteral("C") : QStringLiteral("A"))
            .arg(index);
    }
    const auto it = allowedProfiles.find(int(profileId));
    if (it == allowedProfiles.end())
        return QString();
    return QStringLiteral("A%1.%2%3.%4")
        .arg(nodeAddress)
        .arg(output ? QStringLiteral("D") : QStringLiteral("B"))
        .arg(10000 + 50 * profileId + index)
        .arg(QString::fromStdString(it->second.code));
}

namespace {

// Outputs of every card but the Output Card keep their limits 50 registers further on.
bool LimitsShifted(int cardType, Tolvaren::IoDirection dir)
{
    return dir == Tolvaren::Output && cardType != 2;
}

QString LimitReference(unsigned nodeAddress, unsigned reg)
{
    return QStringLiteral("A%1.D%2.C").arg(nodeAddress).arg(reg);
}

} // namespace

QString LowerLimitReference(unsigned nodeAddress, int cardType, Tolvaren::IoDirection dir,
                            unsigned index)
{
    return LimitReference(nodeAddress, index + (LimitsShifted(cardType, dir) ? 650 : 600));
}

QString UpperLimitReference(unsigned nodeAddress, int cardType, Tolvaren::IoDirection dir,
                            unsigned index)
{
    return LimitReference(nodeAddress, index + (LimitsShifted(cardType, dir) ? 150 : 100));
}

} // namespace IoPointFormats
