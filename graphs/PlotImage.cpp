#include "graphs/PlotImage.h"

#include <cmath>

#include <QPainter>

#include "graphs/DataPlotRenderer.h"

QImage DrawPlotImage(const std::vector<float>& samples, double secondsPerSample,
                     const QDateTime& newest, const QString& yTitle, const QSize& size)
{
    DataPlotRenderer renderer;
    renderer.SetSecondsPerSample(secondsPerSample);
    renderer.SetYAxisTitle(yTitle);
    renderer.SetFractionDigits(0);
    renderer.AddValues(samples);
    if (newest.isValid() && !samples.empty()) {
        renderer.SetTimeAxis(true);
        renderer.SetDateTimeOfLatestData(newest);
    }
    if (renderer.HasDataRange()) {
        const double low = renderer.DataMinimum(), high = renderer.DataMaximum();
        // A flat line gets a range of its own around it; ShowAllData adds the margins.
        if (high > low)
            renderer.SetYRange(low, high);
        else
            renderer.SetYRange(low - 1.0, low + 1.0);
    }
    renderer.SetViewportSize(size);
    renderer.ShowAllData();

    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.Paint(painter, size, false);
    painter.end();
    return image;
}
