#pragma once

#include <QString>

// Axis arithmetic of the strip chart: grid pitches and label texts. Pure functions, any thread.
namespace PlotAxisMath {

// A "nice" step larger than x: 2, 5 or 10 times a power of ten. Throws ExceptionWithString
// "most sig dig < 1 ?!" for anything that is not a positive finite number.
double NiceStep(double x);

// Grid pitch on a time axis for a span of `seconds` seconds: whole seconds, minutes, hours or
// days from fixed lists. Throws "CalcNiceGridPitchForTime: impossible" for NaN.
double CalcNiceGridPitchForTime(double seconds);

// Grid pitch of the x axis for `span` x units covered by the minimum grid spacing.
double CalcXGridPitch(double span, bool timeAxis);

// "hh:mm:ss" with an optional fraction of fractionDigits digits (only when not zero). With
// wrapAtMidnight the hours run 0..23; otherwise they keep counting past 24. Negative seconds give
// an empty text.
QString FormatTimeOfDay(double seconds, bool wrapAtMidnight, int fractionDigits);

// Label of an x value: a plain number, or its time of day on a time axis.
QString FormatXValue(double x, bool timeAxis, bool wrapAtMidnight, int fractionDigits);

// Label of a y value.
QString FormatYValue(double y);

} // namespace PlotAxisMath
