#include "graphs/PlotAxisMath.h"

#include "comms/ExceptionWithString.h"

#include <boost/throw_exception.hpp>

#include <cmath>
#include <cstdint>

namespace PlotAxisMath {

double NiceStep(double x)
{
    // Anything but a positive finite number has no most significant digit; the check also keeps
    // the exponent below within the range of an int.
    if (!(x > 0.0) || !std::isfinite(x))
        boost::throw_exception(ExceptionWithString("most sig dig < 1 ?!"));
    double e = std::log10(x);
    if (e < 0.0)
        e -= 1.0;
    const int n = static_cast<int>(e);
    const double b = std::pow(10.0, n);
    const double d = std::trunc(x / b);
    if (d <= 0.0)
        boost::throw_exception(ExceptionWithString("most sig dig < 1 ?!"));
    if (d == 1.0)
        return 2.0 * b;
    if (d <= 4.0)
        return 5.0 * b;
    return 10.0 * b;
}

namespace {

double FirstNotLessThan(double s, const double* candidates, int count, double unit)
{
    for (int i = 0; i < count; ++i) {
        if (candidates[i] * unit >= s)
            return candidates[i] * unit;
    }
    return candidates[count - 1] * unit;
}

} // namespace

double CalcNiceGridPitchForTime(double s)
{
    if (s >= 86400.0)
        return NiceStep(s / 86400.0) * 86400.0;
    if (s >= 3600.0) {
        static const double hours[] = {1, 2, 4, 8, 12, 24};
        return FirstNotLessThan(s, hours, 6, 3600.0);
    }
    if (s >= 60.0) {
        static const double minutes[] = {1, 5, 10, 15, 30, 60};
        return FirstNotLessThan(s, minutes, 6, 60.0);
    }
    if (s < 60.0) {
        static const double seconds[] = {1, 5, 10, 15, 30, 60};
        return FirstNotLessThan(s, seconds, 6, 1.0);
    }
    boost::throw_exception(ExceptionWithString("CalcNiceGridPitchForTime: impossible"));
}

double CalcXGridPitch(double span, bool timeAxis)
{
    if (!timeAxis || span < 1.0)
        return NiceStep(span);
    return CalcNiceGridPitchForTime(span);
}

QString FormatTimeOfDay(double seconds, bool wrapAtMidnight, int fractionDigits)
{
    if (!(seconds >= 0.0) || !std::isfinite(seconds))
        return QString();
    const int digits = fractionDigits > 0 ? (fractionDigits > 9 ? 9 : fractionDigits) : 0;
    std::int64_t scale = 1;
    for (int i = 0; i < digits; ++i)
        scale *= 10;
    // Round once in units of the last shown digit so that 59.9996 s becomes 1:00 and not 0:59.1000.
    const std::int64_t ticks = std::llround(seconds * static_cast<double>(scale));
    std::int64_t whole = ticks / scale;
    const std::int64_t fraction = ticks % scale;
    if (wrapAtMidnight)
        whole %= 86400;
    QString text = QStringLiteral("%1:%2:%3")
                       .arg(whole / 3600, 2, 10, QLatin1Char('0'))
                       .arg((whole / 60) % 60, 2, 10, QLatin1Char('0'))
                       .arg(whole % 60, 2, 10, QLatin1Char('0'));
    if (digits > 0 && fraction != 0)
        text += QStringLiteral(".%1").arg(fraction, digits, 10, QLatin1Char('0'));
    return text;
}

QString FormatXValue(double x, bool timeAxis, bool wrapAtMidnight, int fractionDigits)
{
    if (timeAxis)
        return FormatTimeOfDay(x, wrapAtMidnight, fractionDigits);
    return QString::number(x, 'g', 6);
}

QString FormatYValue(double y)
{
    return QString::number(y, 'g', 6);
}

} // namespace PlotAxisMath
