#pragma once

#include <vector>

#include <QDateTime>
#include <QImage>
#include <QSize>
#include <QString>

// A series drawn by the strip chart's renderer into an image, for documents (the card report):
// every sample in view, the y range fitted to the data, a time axis when the newest sample's
// time is valid. Any thread with a QGuiApplication in the process.
QImage DrawPlotImage(const std::vector<float>& samples, double secondsPerSample,
                     const QDateTime& newest, const QString& yTitle, const QSize& size);
