#pragma once

#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QPointF>
#include <QSize>
#include <QString>

#include <cstddef>
#include <map>
#include <optional>
#include <utility>
#include <vector>

class QFontMetrics;
class QPainter;
class QRect;

// Samples, view state and painting of the strip chart.
//
// Holds up to MaxSamples equally spaced samples (NaN marks a gap) and the view onto them: which
// sample sits at the right edge of the plot, the horizontal and vertical scales, the y range,
// the cross-hair and the markers. All the arithmetic (positions, grid, pan, zoom, scroll-bar
// values, reduction of samples to pixel columns) is public so that it can be checked without
// painting; Paint() only draws what that arithmetic gives.
//
// GUI thread only, like the widget that owns it.
class DataPlotRenderer : public QObject
{
    Q_OBJECT

public:
    static constexpr std::size_t MaxSamples = 1000000;
    static constexpr double ZoomInFactor = 1.3;
    static constexpr double ZoomOutFactor = 1.0 / 1.3;
    // Scroll bars run from 0 to this value.
    static constexpr int ScrollRange = 20000;
    // Minimum distance between grid lines, both axes.
    static constexpr int MinGridSpacing = 49;

    struct PlotRect
    {
        int left = 0;
        int top = 0;
        int right = -1;
        int bottom = -1;
        int Width() const { return right - left; }
        int Height() const { return bottom - top; }
        bool IsEmpty() const { return right <= left || bottom <= top; }
    };

    // A scroll bar always starts at 0.
    struct ScrollBarSetting
    {
        int maximum = 0;
        int value = 0;
        int pageStep = 0;
    };

    struct CrossHair
    {
        bool shown = false;
        bool snap = true;
        int x = 0;
        int y = 0;
    };

    // Samples to draw, in pixels, left to right. Each run is one connected line (points[first],
    // ..., points[first + count - 1]); a NaN sample ends a run. Below 0.5 pixels per sample a run
    // holds four points per pixel column (first, minimum, maximum, last of the column's samples).
    struct Trace
    {
        std::vector<QPointF> points;
        std::vector<std::pair<std::size_t, std::size_t>> runs; // first point, point count
        std::vector<QPointF> squares;                          // centres, above 8 px per sample
        bool reachedLeftEdge = false;
    };

    explicit DataPlotRenderer(QObject* parent = nullptr);
    ~DataPlotRenderer() override;

    // --- Samples
    // Appends a sample; one offered while MaxSamples are stored is dropped.
    void AddValue(float value);
    void AddValues(const std::vector<float>& values);
    std::size_t SampleCount() const { return m_samples.size(); }
    const std::vector<float>& Samples() const { return m_samples; }
    bool IsFull() const { return m_samples.size() >= MaxSamples; }
    // Whether any non-NaN sample has arrived; only then are the data minimum and maximum set.
    bool HasDataRange() const { return m_hasDataRange; }
    float DataMinimum() const { return m_dataMin; }
    float DataMaximum() const { return m_dataMax; }

    // --- x model: sample k has the x value k * SecondsPerSample() + FirstSampleSeconds(); on a
    // time axis that is seconds since midnight of FirstSampleDate().
    double SecondsPerSample() const { return m_secondsPerSample; }
    void SetSecondsPerSample(double seconds);
    double FirstSampleSeconds() const { return m_firstSampleSeconds; }
    void SetFirstSampleSeconds(double seconds);
    QDate FirstSampleDate() const { return m_firstSampleDate; }
    void SetFirstSampleDate(const QDate& date);
    bool TimeAxis() const { return m_timeAxis; }
    void SetTimeAxis(bool on);
    double XValueOfSample(double index) const;
    // Date and time of a sample, to the millisecond; invalid while FirstSampleDate() is.
    QDateTime DateTimeOfSample(std::size_t index) const;
    // Anchors the time axis so that the newest sample was taken at `latest`.
    void SetDateTimeOfLatestData(const QDateTime& latest);

    // --- Labels
    bool ShowXLabels() const { return m_showXLabels; }
    void SetShowXLabels(bool on);
    int FractionDigits() const { return m_fractionDigits; }
    void SetFractionDigits(int digits);
    QString YAxisTitle() const { return m_yAxisTitle; }
    void SetYAxisTitle(const QString& title);
    QString XLabel(double x) const;

    // --- View
    std::size_t LastVisibleIndex() const { return m_lastVisibleIndex; }
    double PixelOffset() const { return m_pixelOffset; }
    double PixelsPerSample() const { return m_pixelsPerSample; }
    void SetPixelsPerSample(double pixels);
    double YMin() const { return m_yMin; }
    double YMax() const { return m_yMax; }
    double PixelsPerYUnit() const { return m_pixelsPerYUnit; }
    // The larger value becomes the top; throws "Y axis range cannot be zero" for equal values.
    void SetYRange(double a, double b);
    bool FollowNewest() const { return m_followNewest; }
    // Switching off keeps the view where following had put it.
    void SetFollowNewest(bool follow);
    // True when the newest sample sits exactly at the right edge (or there are no samples).
    bool IsAtNewest() const;

    // Lays out the plot rectangle for a viewport; Paint() does this too.
    void SetViewportSize(const QSize& size);
    PlotRect GetPlotRect() const { return m_plot; }

    double XPixelOfSample(double index) const;
    double SampleIndexAtPixel(double x) const;
    double XValueAtPixel(double x) const;
    double XPixelOfValue(double xValue) const;
    int YPixelOfValue(double value) const;
    double ValueAtRow(double y) const;

    // Moves the view by dx, dy pixels (positive dx shows older samples, positive dy higher values
    // move down).
    void Pan(double dx, double dy);
    // Scales about the pixel (px, py) so that what is under it stays there; 0 leaves an axis.
    void Zoom(int px, int py, double xFactor, double yFactor);
    // Fits every sample into the plot width and widens the y range to the data.
    void ShowAllData();

    // --- Scroll bars
    ScrollBarSetting HorizontalScrollBar() const;
    ScrollBarSetting VerticalScrollBar() const;
    // Pan distances, in pixels, for a scroll-bar movement of `delta` steps.
    double HorizontalPanForScroll(int delta) const;
    double VerticalPanForScroll(int delta) const;

    // --- Cross-hair and markers
    void ShowCrossHair(int x, int y, bool snap);
    void HideCrossHair();
    const CrossHair& GetCrossHair() const { return m_crossHair; }
    // The sample under the cross-hair: the nearest one, limited to the newest.
    std::optional<std::size_t> CrossHairSample() const;
    const std::map<int, std::size_t>& Markers() const { return m_markers; }
    void SetMarker(int number, std::size_t sampleIndex);
    void RemoveMarker(int number);
    void ClearMarkers();

    // Whether the last paint found samples left of the plot.
    bool ReachedLeftEdge() const { return m_reachedLeftEdge; }

    // --- Painting
    Trace BuildTrace() const;
    void Paint(QPainter& painter, const QSize& viewportSize, bool focused);

signals:
    // A setting changed that the owner should repaint for.
    void Changed();

private:
    void UpdateYScale();
    void SyncToNewest();
    double HorizontalTotal() const;
    double VerticalExtent(double* below) const;
    void PaintXGrid(QPainter& painter);
    void PaintYGrid(QPainter& painter);
    void PaintSamples(QPainter& painter);
    void PaintMarkers(QPainter& painter);
    void PaintCrossHair(QPainter& painter);
    struct CrossHairPoint
    {
        int x = 0;
        int y = 0;
        double xValue = 0.0;
        double value = 0.0;
        bool hasValue = false;
    };
    // Where the cross-hair is drawn; false while it is not shown or outside the plot.
    bool LocateCrossHair(CrossHairPoint* point) const;
    void ReserveOverlayLabels(const QFontMetrics& metrics);
    bool IsReserved(const QRect& box) const;
    static QRect LabelBox(const QFontMetrics& metrics, const QString& text, int x, int y,
                          int flags);
    void DrawLabel(QPainter& painter, const QString& text, int x, int y, int flags) const;

    std::vector<float> m_samples;
    float m_dataMin = 0.0f;
    float m_dataMax = 0.0f;
    bool m_hasDataRange = false;

    double m_secondsPerSample = 1.0;
    double m_firstSampleSeconds = 0.0;
    QDate m_firstSampleDate;
    bool m_timeAxis = false;

    std::size_t m_lastVisibleIndex = 0;
    double m_pixelOffset = 0.0;
    double m_pixelsPerSample = 4.0;
    double m_yMin = -100.0;
    double m_yMax = 2000.0;
    double m_pixelsPerYUnit = 0.0;
    bool m_followNewest = true;
    PlotRect m_plot;

    bool m_showXLabels = true;
    int m_fractionDigits = 3;
    QString m_yAxisTitle;

    CrossHair m_crossHair;
    std::map<int, std::size_t> m_markers;
    bool m_reachedLeftEdge = false;
    // Label boxes of markers and cross-hair during a paint; grid labels under them are left out.
    std::vector<QRect> m_overlayLabels;
};
