#include "graphs/DataPlotRenderer.h"

#include "comms/ExceptionWithString.h"

#include <QColor>
#include <QDate>
#include <QDateTime>
#include <QImage>
#include <QPainter>
#include <QTime>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

namespace {

const float NaN = std::numeric_limits<float>::quiet_NaN();
// Plot rectangle: left 60, top 25, right 600, bottom 375 (540 x 350 pixels).
const QSize Viewport(660, 425);
const QRgb DataRgb = qRgb(0, 128, 255);

std::string ErrorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const ExceptionWithString& e) {
        return e.what();
    }
    return "(no exception)";
}

class DataPlotRendererTest : public ::testing::Test
{
protected:
    void SetUp() override { r.SetViewportSize(Viewport); }

    void AddRamp(int count)
    {
        for (int k = 0; k < count; ++k)
            r.AddValue(static_cast<float>(k));
    }

    QImage PaintImage(const QSize& size = Viewport)
    {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        r.Paint(painter, size, false);
        return image;
    }

    static int CountColour(const QImage& image, const QRect& area, QRgb colour)
    {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                if (image.pixel(x, y) == colour)
                    ++n;
            }
        }
        return n;
    }

    DataPlotRenderer r;
};

TEST_F(DataPlotRendererTest, YRangeIsOrderedAndNeverZero)
{
    r.SetYRange(11, -1);
    EXPECT_EQ(r.YMin(), -1.0);
    EXPECT_EQ(r.YMax(), 11.0);
    EXPECT_DOUBLE_EQ(r.PixelsPerYUnit(), 350.0 / 12.0);

    EXPECT_EQ(ErrorOf([&] { r.SetYRange(5, 5); }), "Y axis range cannot be zero");
    EXPECT_NE(ErrorOf([&] { r.SetYRange(0, std::nan("")); }), "(no exception)");
    // A refused range leaves the old one.
    EXPECT_EQ(r.YMin(), -1.0);
    EXPECT_EQ(r.YMax(), 11.0);
}

TEST_F(DataPlotRendererTest, SamplesBeyondTheMillionthAreDropped)
{
    std::vector<float> values(DataPlotRenderer::MaxSamples - 1, 1.0f);
    r.AddValues(values);
    EXPECT_FALSE(r.IsFull());
    r.AddValue(2.0f);
    EXPECT_TRUE(r.IsFull());
    r.AddValue(50.0f);
    r.AddValues({60.0f, 70.0f});
    EXPECT_EQ(r.SampleCount(), DataPlotRenderer::MaxSamples);
    EXPECT_EQ(r.Samples().back(), 2.0f);
    EXPECT_EQ(r.DataMaximum(), 2.0f);
    EXPECT_EQ(r.LastVisibleIndex(), DataPlotRenderer::MaxSamples - 1);
}

TEST_F(DataPlotRendererTest, DataRangeIgnoresGaps)
{
    r.AddValue(NaN);
    EXPECT_FALSE(r.HasDataRange());
    r.AddValues({5.0f, NaN, -3.0f, 8.0f});
    EXPECT_TRUE(r.HasDataRange());
    EXPECT_EQ(r.DataMinimum(), -3.0f);
    EXPECT_EQ(r.DataMaximum(), 8.0f);
    EXPECT_EQ(r.SampleCount(), 5u);
}

TEST_F(DataPlotRendererTest, DateTimeOfLatestDataAnchorsTheTimeAxis)
{
    EXPECT_EQ(ErrorOf([&] { r.SetDateTimeOfLatestData(QDateTime::currentDateTime()); }),
              "cannot SetDateTimeOfLatestData because there is no data");
    r.AddValues({1.0f, 2.0f, 3.0f, 4.0f, 5.0f});
    EXPECT_EQ(ErrorOf([&] { r.SetDateTimeOfLatestData(QDateTime::currentDateTime()); }),
              "cannot SetDateTimeOfLatestData because data point units are not seconds");

    r.SetTimeAxis(true);
    r.SetSecondsPerSample(900.0);
    // Four 15-minute steps before 00:30 reach back over midnight.
    const QDateTime latest(QDate(2026, 3, 15), QTime(0, 30, 0, 250));
    r.SetDateTimeOfLatestData(latest);
    EXPECT_EQ(r.FirstSampleDate(), QDate(2026, 3, 14));
    EXPECT_DOUBLE_EQ(r.FirstSampleSeconds(), 23 * 3600 + 30 * 60 + 0.25);
    EXPECT_EQ(r.DateTimeOfSample(4), latest);
    EXPECT_EQ(r.DateTimeOfSample(0), QDateTime(QDate(2026, 3, 14), QTime(23, 30, 0, 250)));
    // Midnight of the first day counts on: the last sample is 24.5 hours after it.
    EXPECT_DOUBLE_EQ(r.XValueOfSample(4), 86400.0 + 30 * 60 + 0.25);
}

TEST_F(DataPlotRendererTest, NaNOnlySeriesStillTakesATime)
{
    r.AddValues({NaN, NaN});
    r.SetTimeAxis(true);
    const QDateTime latest(QDate(2026, 1, 2), QTime(12, 0));
    r.SetDateTimeOfLatestData(latest);
    EXPECT_EQ(r.DateTimeOfSample(1), latest);
    const DataPlotRenderer::Trace trace = r.BuildTrace();
    EXPECT_TRUE(trace.points.empty());
    EXPECT_TRUE(trace.runs.empty());
}

TEST_F(DataPlotRendererTest, ZoomInAndOutRestoresTheScaleAndKeepsTheSampleUnderTheMouse)
{
    AddRamp(1000);
    r.SetFollowNewest(false);
    const int px = 400;
    const double before = r.SampleIndexAtPixel(px);
    r.Zoom(px, 200, DataPlotRenderer::ZoomInFactor, 0);
    EXPECT_NEAR(r.SampleIndexAtPixel(px), before, 1.0 / r.PixelsPerSample());
    r.Zoom(px, 200, DataPlotRenderer::ZoomInFactor, 0);
    EXPECT_NEAR(r.PixelsPerSample(), 4.0 * 1.69, 1e-9);
    EXPECT_NEAR(r.SampleIndexAtPixel(px), before, 1.0 / r.PixelsPerSample());
    r.Zoom(px, 200, DataPlotRenderer::ZoomOutFactor, 0);
    r.Zoom(px, 200, DataPlotRenderer::ZoomOutFactor, 0);
    EXPECT_NEAR(r.PixelsPerSample(), 4.0, 1e-12);
    // Each zoom rounds its pan to a pixel.
    EXPECT_NEAR(r.SampleIndexAtPixel(px), before, 4.0 / r.PixelsPerSample());
}

TEST_F(DataPlotRendererTest, ZoomInYKeepsTheValueUnderTheMouse)
{
    r.SetYRange(0, 350); // one pixel per unit
    const double value = r.ValueAtRow(100);
    r.Zoom(300, 100, 0, 2.0);
    EXPECT_DOUBLE_EQ(r.PixelsPerYUnit(), 2.0);
    EXPECT_DOUBLE_EQ(r.ValueAtRow(100), value);
    EXPECT_DOUBLE_EQ(r.YMax() - r.YMin(), 175.0);
    EXPECT_EQ(r.PixelsPerSample(), 4.0); // x left alone
}

TEST_F(DataPlotRendererTest, PanMovesWholeSamplesAndStopsAtBothEnds)
{
    AddRamp(100);
    r.SetFollowNewest(false);
    r.Pan(10.0, 0); // 2.5 samples to the right: older data
    EXPECT_EQ(r.LastVisibleIndex(), 97u);
    EXPECT_DOUBLE_EQ(r.PixelOffset(), 2.0);
    r.Pan(-2.0, 0);
    EXPECT_EQ(r.LastVisibleIndex(), 97u);
    EXPECT_DOUBLE_EQ(r.PixelOffset(), 0.0);

    r.Pan(-1000.0, 0); // past the newest sample
    EXPECT_EQ(r.LastVisibleIndex(), 99u);
    EXPECT_EQ(r.PixelOffset(), 0.0);
    EXPECT_TRUE(r.IsAtNewest());

    r.Pan(10000.0, 0); // past the first sample
    EXPECT_EQ(r.LastVisibleIndex(), 0u);
    EXPECT_EQ(r.PixelOffset(), 0.0);

    const double yMin = r.YMin();
    r.Pan(0, 35.0); // 350 px for 2100 units
    EXPECT_DOUBLE_EQ(r.YMin(), yMin + 35.0 * 2100.0 / 350.0);
}

TEST_F(DataPlotRendererTest, ShowAllDataFitsTheSamplesAndWidensTheRange)
{
    r.SetYRange(0, 10);
    r.AddValues({2.0f, NaN, 30.0f, 4.0f});
    r.SetFollowNewest(false);
    r.Pan(8.0, 0);
    r.ShowAllData();
    EXPECT_DOUBLE_EQ(r.PixelsPerSample(), 540.0 / 4.0);
    EXPECT_EQ(r.LastVisibleIndex(), 3u);
    EXPECT_EQ(r.PixelOffset(), 0.0);
    EXPECT_DOUBLE_EQ(r.YMin(), 0.0);        // already below 2 - 1.4
    EXPECT_DOUBLE_EQ(r.YMax(), 30.0 + 1.4); // 5 % of 28 above the maximum
}

TEST_F(DataPlotRendererTest, HorizontalScrollBarFollowsThePosition)
{
    AddRamp(1001); // total width 1000 * 4 px
    DataPlotRenderer::ScrollBarSetting h = r.HorizontalScrollBar();
    EXPECT_EQ(h.maximum, 20000);
    EXPECT_EQ(h.value, 20000);
    EXPECT_EQ(h.pageStep, 2700); // 540 / 4000 of 20000

    r.SetFollowNewest(false);
    r.Pan(400.0, 0); // 100 samples back
    h = r.HorizontalScrollBar();
    EXPECT_EQ(h.value, 18000);
    EXPECT_DOUBLE_EQ(r.HorizontalPanForScroll(1), -10.0);
    EXPECT_DOUBLE_EQ(r.HorizontalPanForScroll(-1), 10.0);
    EXPECT_DOUBLE_EQ(r.HorizontalPanForScroll(2000), -400.0);

    DataPlotRenderer single;
    single.SetViewportSize(Viewport);
    single.AddValue(1.0f);
    EXPECT_EQ(single.HorizontalScrollBar().maximum, 0);
}

TEST_F(DataPlotRendererTest, VerticalScrollBarPlacesTheViewInTheData)
{
    r.SetYRange(0, 350); // one pixel per unit, plot 350 px high
    // No data: nothing to scroll.
    EXPECT_EQ(r.VerticalScrollBar().maximum, 0);

    r.AddValues({0.0f, 1000.0f});
    // r = 1000 - 350 + 10 = 660, b = 0 + 5 = 5: near the bottom.
    DataPlotRenderer::ScrollBarSetting v = r.VerticalScrollBar();
    EXPECT_EQ(v.maximum, 20000);
    EXPECT_EQ(v.value, 20000 - static_cast<int>(std::floor(5.0 / 660.0 * 20000 + 0.5)));
    EXPECT_EQ(v.pageStep, static_cast<int>(std::floor(350.0 / 660.0 * 20000 + 0.5)));

    r.SetYRange(-100, 250); // b = -95: below the data
    v = r.VerticalScrollBar();
    EXPECT_EQ(v.value, 20000);
    EXPECT_EQ(v.pageStep, static_cast<int>(std::floor(350.0 / 755.0 * 20000 + 0.5)));

    r.SetYRange(2000, 2350); // above the data
    EXPECT_EQ(r.VerticalScrollBar().value, 0);
    EXPECT_DOUBLE_EQ(r.VerticalPanForScroll(1), -10.0);
}

TEST_F(DataPlotRendererTest, CrossHairSnapsToTheNearestSample)
{
    AddRamp(10); // sample 9 at x 600, sample 0 at x 564
    r.ShowCrossHair(587, 100, true);
    ASSERT_TRUE(r.CrossHairSample().has_value());
    EXPECT_EQ(*r.CrossHairSample(), 6u); // 587 is 3.25 samples left of 600
    r.ShowCrossHair(599, 100, true);
    EXPECT_EQ(*r.CrossHairSample(), 9u);
    r.ShowCrossHair(100, 100, true); // left of the first sample
    EXPECT_FALSE(r.CrossHairSample().has_value());
    r.ShowCrossHair(590, 10, true); // above the plot
    EXPECT_FALSE(r.CrossHairSample().has_value());
    r.HideCrossHair();
    EXPECT_FALSE(r.CrossHairSample().has_value());
}

TEST_F(DataPlotRendererTest, TraceBreaksAtGapsAndAddsSquaresWhenWide)
{
    r.AddValues({1.0f, 2.0f, NaN, 3.0f, NaN, 4.0f, 5.0f, 6.0f});
    DataPlotRenderer::Trace trace = r.BuildTrace();
    ASSERT_EQ(trace.runs.size(), 3u);
    EXPECT_EQ(trace.runs[0].second, 2u);
    EXPECT_EQ(trace.runs[1].second, 1u); // a lone sample between gaps is a point
    EXPECT_EQ(trace.runs[2].second, 3u);
    EXPECT_TRUE(trace.squares.empty());
    EXPECT_DOUBLE_EQ(trace.points.back().x(), 600.0);
    EXPECT_FALSE(trace.reachedLeftEdge);

    r.SetPixelsPerSample(10.0);
    trace = r.BuildTrace();
    EXPECT_EQ(trace.squares.size(), 6u);

    DataPlotRenderer single;
    single.SetViewportSize(Viewport);
    single.AddValue(42.0f);
    trace = single.BuildTrace();
    ASSERT_EQ(trace.runs.size(), 1u);
    EXPECT_EQ(trace.runs[0].second, 1u);
}

TEST_F(DataPlotRendererTest, DenseSamplesReduceToColumnMinimumAndMaximum)
{
    // 100 samples per pixel, alternating between 0 and 100 with a spike to 300 in one column.
    r.SetYRange(0, 350);
    const int count = 200000;
    std::vector<float> values(count);
    for (int k = 0; k < count; ++k)
        values[k] = (k % 2) ? 100.0f : 0.0f;
    values[count - 150] = 300.0f;
    r.AddValues(values);
    r.SetPixelsPerSample(0.01);
    const DataPlotRenderer::Trace trace = r.BuildTrace();
    EXPECT_TRUE(trace.reachedLeftEdge);
    ASSERT_EQ(trace.runs.size(), 1u);
    // At most four points per column: 541 columns and one beyond each edge.
    EXPECT_LE(trace.points.size(), 4u * 543u);
    EXPECT_GE(trace.points.size(), 2u * 540u);
    int columnsWithSpike = 0;
    for (const QPointF& p : trace.points) {
        EXPECT_GE(p.y(), r.YPixelOfValue(300.0));
        EXPECT_LE(p.y(), r.YPixelOfValue(0.0));
        if (p.y() == r.YPixelOfValue(300.0))
            ++columnsWithSpike;
    }
    EXPECT_EQ(columnsWithSpike, 1);
    // Every column spans both levels.
    int top = 0, bottom = 0;
    for (const QPointF& p : trace.points) {
        top += p.y() == r.YPixelOfValue(100.0);
        bottom += p.y() == r.YPixelOfValue(0.0);
    }
    EXPECT_GE(top, 539);
    EXPECT_GE(bottom, 540);
}

TEST_F(DataPlotRendererTest, DenseSamplesBreakAtGapsToo)
{
    r.SetYRange(0, 350);
    std::vector<float> values(100000, 50.0f);
    // A gap of 5000 samples (50 columns) and a lone NaN in the middle of one column.
    for (int k = 60000; k < 65000; ++k)
        values[k] = NaN;
    values[80050] = NaN;
    values[90000] = 200.0f;
    r.AddValues(values);
    r.SetPixelsPerSample(0.01); // the last 54000 samples fill the plot
    const DataPlotRenderer::Trace trace = r.BuildTrace();
    // Runs: before the gap, from the gap to the lone NaN, after it.
    ASSERT_EQ(trace.runs.size(), 3u);
    const QPointF gapStart = trace.points[trace.runs[0].first + trace.runs[0].second - 1];
    const QPointF gapEnd = trace.points[trace.runs[1].first];
    EXPECT_NEAR(gapStart.x(), r.XPixelOfSample(59999), 1.0);
    EXPECT_NEAR(gapEnd.x(), r.XPixelOfSample(65000), 1.0);
    bool spike = false;
    for (const QPointF& p : trace.points)
        spike |= p.y() == r.YPixelOfValue(200.0) && std::abs(p.x() - r.XPixelOfSample(90000)) < 1;
    EXPECT_TRUE(spike);
}

TEST_F(DataPlotRendererTest, FollowingKeepsTheNewestSampleAtTheRightEdge)
{
    AddRamp(10);
    EXPECT_EQ(r.LastVisibleIndex(), 9u);
    r.SetFollowNewest(false);
    r.AddValue(10.0f);
    EXPECT_EQ(r.LastVisibleIndex(), 9u);
    EXPECT_FALSE(r.IsAtNewest());
    r.SetFollowNewest(true);
    EXPECT_EQ(r.LastVisibleIndex(), 10u);
    EXPECT_TRUE(r.IsAtNewest());
}

TEST_F(DataPlotRendererTest, PaintedLineStaysInThePlotAndBreaksAtGaps)
{
    r.SetYRange(0, 100);
    std::vector<float> values(200, 50.0f);
    for (int k = 120; k < 140; ++k)
        values[k] = NaN;
    values[10] = 500.0f; // far above the plot: clipped
    r.AddValues(values);
    r.SetPixelsPerSample(2.0); // samples 0..199 at x 202..600
    const QImage image = PaintImage();

    const QRect plot(60, 25, 541, 351);
    EXPECT_GT(CountColour(image, plot, DataRgb), 300);
    // Nothing of the line in the margins.
    int outside = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (!plot.contains(x, y) && image.pixel(x, y) == DataRgb)
                ++outside;
        }
    }
    EXPECT_EQ(outside, 0);
    // The gap: samples 121..138 lie between x 444 and 478.
    const int row = r.YPixelOfValue(50.0);
    EXPECT_EQ(CountColour(image, QRect(446, row - 2, 30, 5), DataRgb), 0);
    EXPECT_GT(CountColour(image, QRect(410, row - 2, 30, 5), DataRgb), 20);
    EXPECT_GT(CountColour(image, QRect(500, row - 2, 30, 5), DataRgb), 20);
    // Margins and background are black, not the white the image started with.
    EXPECT_EQ(image.pixel(5 + 4, 5 + 4), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(620, 200), qRgb(0, 0, 0));
}

TEST_F(DataPlotRendererTest, PaintingFindsTheLeftEdge)
{
    AddRamp(100); // 100 samples at 4 px: 400 px fit into 540
    PaintImage();
    EXPECT_FALSE(r.ReachedLeftEdge());
    AddRamp(100);
    PaintImage();
    EXPECT_TRUE(r.ReachedLeftEdge());
}

TEST_F(DataPlotRendererTest, ATooSmallViewportIsAllBlack)
{
    AddRamp(10);
    const QImage image = PaintImage(QSize(100, 60));
    EXPECT_EQ(CountColour(image, image.rect(), qRgb(0, 0, 0)), 100 * 60);
}

TEST_F(DataPlotRendererTest, PaintingSurvivesAnXScaleWithoutGrid)
{
    r.SetYRange(0, 100);
    r.AddValues(std::vector<float>(100, 50.0f));
    r.SetTimeAxis(true);
    r.SetSecondsPerSample(0.0); // a card that reports no sample interval
    QImage image;
    EXPECT_NO_THROW(image = PaintImage());
    EXPECT_GT(CountColour(image, QRect(60, 25, 541, 351), DataRgb), 100);
}

TEST_F(DataPlotRendererTest, MarkersAreKeptByNumber)
{
    AddRamp(10);
    r.SetMarker(2, 3);
    r.SetMarker(1, 7);
    r.SetMarker(2, 5);
    ASSERT_EQ(r.Markers().size(), 2u);
    EXPECT_EQ(r.Markers().begin()->first, 1);
    EXPECT_EQ(r.Markers().at(2), 5u);
    r.RemoveMarker(1);
    EXPECT_EQ(r.Markers().count(1), 0u);
    // The marker's line is drawn in its colour at its sample.
    const QImage image = PaintImage();
    const int x = static_cast<int>(r.XPixelOfSample(5));
    EXPECT_GT(CountColour(image, QRect(x, 25, 1, 350), qRgb(255, 200, 140)), 50);
}

} // namespace
