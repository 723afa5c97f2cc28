// bench-libs: tolvaren_report tolvaren_graphs tolvaren_simulator
//
// The card report of the simulated 24 + 24 point card with its three control modules: the host
// time beyond the card reads (comparison, layout, graphs, PDF or HTML, the file written), with
// and without the 8-day graphs; and, for scale, the reads themselves from the in-process card.
#include <cstdlib>

#include <QGuiApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include "graphs/PlotImage.h"
#include "modbus/ModbusMasterDatalink.h"
#include "report/CardReportData.h"
#include "report/CardReportDocument.h"
#include "report/CardReportReader.h"
#include "report/SnapshotJson.h"
#include "simulator/FullCardSimulator.h"

namespace {

QImage Graph(const std::vector<float>& samples, double seconds, const QDateTime& newest,
             const QString& title)
{
    return DrawPlotImage(samples, seconds, newest, title, QSize(1140, 285));
}

CardReading Read(bool withEightDay)
{
    FullCardSimulator card;
    ModbusMasterDatalink datalink(&card);
    CardReportReader reader(datalink, withEightDay, {});
    return reader.Start().get();
}

void Make(benchmark::State& state, bool graphs, const char* file)
{
    const CardReading reading = Read(graphs);
    ReportContext context;
    context.port = "COM300";
    context.asFound = SnapshotToJson(reading.snapshot);
    context.asFoundSource = "first full reading of this connection";
    QTemporaryDir dir;
    const QString path = dir.filePath(file);
    int pages = 0;
    for (auto _ : state) {
        context.made = QDateTime::currentDateTime();
        const CardReportDocument document(BuildReportData(reading, context),
                                          graphs ? CardReportDocument::DrawGraphs(reading, Graph)
                                                 : std::vector<QImage>());
        pages = document.Write(path, CardReportDocument::A4);
    }
    state.counters["pages"] = pages;
}

void BM_ReportPdfBeyondReads(benchmark::State& state)
{
    Make(state, false, "report.pdf");
}
BENCHMARK(BM_ReportPdfBeyondReads)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReportHtmlBeyondReads(benchmark::State& state)
{
    Make(state, false, "report.html");
}
BENCHMARK(BM_ReportHtmlBeyondReads)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReportPdfWithGraphsBeyondDownload(benchmark::State& state)
{
    Make(state, true, "report.pdf");
}
BENCHMARK(BM_ReportPdfWithGraphsBeyondDownload)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReportHtmlWithGraphsBeyondDownload(benchmark::State& state)
{
    Make(state, true, "report.html");
}
BENCHMARK(BM_ReportHtmlWithGraphsBeyondDownload)->Unit(benchmark::kMillisecond)->UseRealTime();

// For scale: the reads themselves, from the in-process card (no serial line).
void BM_CardReads(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(Read(state.range(0) != 0));
}
BENCHMARK(BM_CardReads)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
