#include "cli/CliReportGraphs.h"

#include "graphs/PlotImage.h"

CardReportDocument::GraphPainter CliReportGraphPainter()
{
    return [](const std::vector<float>& samples, double secondsPerSample, const QDateTime& newest,
              const QString& title) {
        return DrawPlotImage(samples, secondsPerSample, newest, title, QSize(1140, 285));
    };
}
