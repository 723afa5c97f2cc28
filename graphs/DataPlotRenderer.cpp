#include "graphs/DataPlotRenderer.h"

#include "graphs/PlotAxisMath.h"

#include "comms/ExceptionWithString.h"

#include <QFont>
#include <QLineF>
#include <QFontMetrics>
#include <QPainter>
#include <QPen>
#include <QRect>
#include <QTime>

#include <boost/throw_exception.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const int MarginLeft = 60;
const int MarginRight = 60;
const int MarginTop = 25;
const int MarginBottom = 50;
const int WidgetOutlineWidth = 4;
const int SampleSquareSize = 5;

const QColor BackgroundColour(0, 0, 0);
const QColor PlotOutlineColour(0, 40, 0);
const QColor FocusOutlineColour(0, 0, 255);
const QColor GridColour(0, 128, 64);
const QColor LabelColour(0, 200, 0);
const QColor DataColour(0, 128, 255);
const QColor CrossHairColour(255, 255, 0);
const QColor MarkerColour(255, 200, 140);

// Rows further than this outside the plot are pinned there: the line is clipped anyway, and the
// raster engine's fixed-point coordinates must not overflow when zoomed far in.
const double RowLimit = 1.0e6;

double RoundHalfUp(double v)
{
    return std::floor(v + 0.5);
}

QFont PlotFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(14);
    return font;
}

} // namespace

DataPlotRenderer::DataPlotRenderer(QObject* parent) : QObject(parent)
{
    m_samples.reserve(MaxSamples);
}

DataPlotRenderer::~DataPlotRenderer() = default;

// ---------------------------------------------------------------------------------------------
// Samples

void DataPlotRenderer::AddValue(float value)
{
    if (IsFull())
        return;
    m_samples.push_back(value);
    if (!std::isnan(value)) {
        if (!m_hasDataRange) {
            m_dataMin = m_dataMax = value;
            m_hasDataRange = true;
        } else {
            m_dataMin = std::min(m_dataMin, value);
            m_dataMax = std::max(m_dataMax, value);
        }
    }
    SyncToNewest();
}

void DataPlotRenderer::AddValues(const std::vector<float>& values)
{
    for (float v : values) {
        if (IsFull())
            break;
        AddValue(v);
    }
}

void DataPlotRenderer::SyncToNewest()
{
    if (m_followNewest && !m_samples.empty()) {
        m_lastVisibleIndex = m_samples.size() - 1;
        m_pixelOffset = 0.0;
    }
}

// ---------------------------------------------------------------------------------------------
// x model

void DataPlotRenderer::SetSecondsPerSample(double seconds)
{
    m_secondsPerSample = seconds;
    emit Changed();
}

void DataPlotRenderer::SetFirstSampleSeconds(double seconds)
{
    m_firstSampleSeconds = seconds;
    emit Changed();
}

void DataPlotRenderer::SetFirstSampleDate(const QDate& date)
{
    m_firstSampleDate = date;
    emit Changed();
}

void DataPlotRenderer::SetTimeAxis(bool on)
{
    m_timeAxis = on;
    emit Changed();
}

double DataPlotRenderer::XValueOfSample(double index) const
{
    return index * m_secondsPerSample + m_firstSampleSeconds;
}

QDateTime DataPlotRenderer::DateTimeOfSample(std::size_t index) const
{
    if (!m_firstSampleDate.isValid())
        return QDateTime();
    const qint64 ms = std::llround(XValueOfSample(static_cast<double>(index)) * 1000.0);
    return QDateTime(m_firstSampleDate, QTime(0, 0)).addMSecs(ms);
}

void DataPlotRenderer::SetDateTimeOfLatestData(const QDateTime& latest)
{
    if (m_samples.empty())
        boost::throw_exception(
            ExceptionWithString("cannot SetDateTimeOfLatestData because there is no data"));
    if (!m_timeAxis)
        boost::throw_exception(ExceptionWithString(
            "cannot SetDateTimeOfLatestData because data point units are not seconds"));
    const double spanMs = static_cast<double>(m_samples.size() - 1) * m_secondsPerSample * 1000.0;
    const QDateTime first = latest.addMSecs(-std::llround(spanMs));
    m_firstSampleDate = first.date();
    m_firstSampleSeconds = first.time().msecsSinceStartOfDay() / 1000.0;
    emit Changed();
}

// ---------------------------------------------------------------------------------------------
// Labels

void DataPlotRenderer::SetShowXLabels(bool on)
{
    m_showXLabels = on;
    emit Changed();
}

void DataPlotRenderer::SetFractionDigits(int digits)
{
    m_fractionDigits = digits;
    emit Changed();
}

void DataPlotRenderer::SetYAxisTitle(const QString& title)
{
    m_yAxisTitle = title;
    emit Changed();
}

QString DataPlotRenderer::XLabel(double x) const
{
    return PlotAxisMath::FormatXValue(x, m_timeAxis, m_firstSampleDate.isValid(), m_fractionDigits);
}

// ---------------------------------------------------------------------------------------------
// View

void DataPlotRenderer::SetPixelsPerSample(double pixels)
{
    m_pixelsPerSample = pixels;
    emit Changed();
}

void DataPlotRenderer::SetYRange(double a, double b)
{
    if (a == b)
        boost::throw_exception(ExceptionWithString("Y axis range cannot be zero"));
    // A NaN or infinite end would leave nothing drawable.
    if (!std::isfinite(a) || !std::isfinite(b))
        boost::throw_exception(ExceptionWithString("Y axis range must be finite"));
    m_yMin = std::min(a, b);
    m_yMax = std::max(a, b);
    UpdateYScale();
    emit Changed();
}

void DataPlotRenderer::SetFollowNewest(bool follow)
{
    if (follow == m_followNewest)
        return;
    // Whatever following showed last is where the view stays when it is switched off.
    SyncToNewest();
    m_followNewest = follow;
    SyncToNewest();
}

bool DataPlotRenderer::IsAtNewest() const
{
    if (m_pixelOffset != 0.0)
        return false;
    return m_samples.empty() || m_lastVisibleIndex + 1 == m_samples.size();
}

void DataPlotRenderer::SetViewportSize(const QSize& size)
{
    m_plot.left = MarginLeft;
    m_plot.top = MarginTop;
    m_plot.right = size.width() - MarginRight;
    m_plot.bottom = size.height() - MarginBottom;
    UpdateYScale();
}

void DataPlotRenderer::UpdateYScale()
{
    m_pixelsPerYUnit = m_plot.IsEmpty() ? 0.0 : m_plot.Height() / (m_yMax - m_yMin);
}

double DataPlotRenderer::XPixelOfSample(double index) const
{
    return m_plot.right + m_pixelOffset -
           (static_cast<double>(m_lastVisibleIndex) - index) * m_pixelsPerSample;
}

double DataPlotRenderer::SampleIndexAtPixel(double x) const
{
    return static_cast<double>(m_lastVisibleIndex) -
           (m_plot.right + m_pixelOffset - x) / m_pixelsPerSample;
}

double DataPlotRenderer::XValueAtPixel(double x) const
{
    return XValueOfSample(SampleIndexAtPixel(x));
}

double DataPlotRenderer::XPixelOfValue(double xValue) const
{
    return XPixelOfSample((xValue - m_firstSampleSeconds) / m_secondsPerSample);
}

int DataPlotRenderer::YPixelOfValue(double value) const
{
    double y = RoundHalfUp(m_plot.bottom - (value - m_yMin) * m_pixelsPerYUnit);
    y = std::clamp(y, m_plot.top - RowLimit, m_plot.bottom + RowLimit);
    return static_cast<int>(y);
}

double DataPlotRenderer::ValueAtRow(double y) const
{
    return m_yMin + (m_plot.bottom - y) / m_pixelsPerYUnit;
}

void DataPlotRenderer::Pan(double dx, double dy)
{
    if (dx != 0.0 && m_pixelsPerSample > 0.0) {
        m_pixelOffset += dx;
        const double wholeSamples = std::trunc(m_pixelOffset / m_pixelsPerSample);
        m_pixelOffset -= wholeSamples * m_pixelsPerSample;
        const double newest = m_samples.empty() ? 0.0 : static_cast<double>(m_samples.size() - 1);
        const double index = static_cast<double>(m_lastVisibleIndex) - wholeSamples;
        if (index <= 0.0) {
            m_lastVisibleIndex = 0;
            if (index < 0.0 || m_pixelOffset > 0.0)
                m_pixelOffset = 0.0;
        } else if (index >= newest) {
            m_lastVisibleIndex = static_cast<std::size_t>(newest);
            if (index > newest || m_pixelOffset < 0.0)
                m_pixelOffset = 0.0;
        } else {
            m_lastVisibleIndex = static_cast<std::size_t>(index);
        }
    }
    if (dy != 0.0 && m_pixelsPerYUnit != 0.0) {
        const double shift = dy / m_pixelsPerYUnit;
        m_yMin += shift;
        m_yMax += shift;
    }
}

void DataPlotRenderer::Zoom(int px, int py, double xFactor, double yFactor)
{
    if (m_plot.IsEmpty())
        return;
    if (xFactor != 0.0) {
        m_pixelsPerSample *= xFactor;
        Pan(RoundHalfUp((xFactor - 1.0) * (m_plot.right + m_pixelOffset - px)), 0.0);
    }
    if (yFactor != 0.0 && m_pixelsPerYUnit != 0.0) {
        const double anchor = ValueAtRow(py);
        const double pixelsPerUnit = m_pixelsPerYUnit * yFactor;
        m_yMin = anchor - (m_plot.bottom - py) / pixelsPerUnit;
        m_yMax = m_yMin + m_plot.Height() / pixelsPerUnit;
        UpdateYScale();
    }
}

void DataPlotRenderer::ShowAllData()
{
    if (m_samples.empty() || m_plot.IsEmpty())
        return;
    if (m_hasDataRange) {
        const double margin = (static_cast<double>(m_dataMax) - m_dataMin) * 0.05;
        m_yMin = std::min(m_yMin, m_dataMin - margin);
        m_yMax = std::max(m_yMax, m_dataMax + margin);
        UpdateYScale();
    }
    m_lastVisibleIndex = m_samples.size() - 1;
    m_pixelOffset = 0.0;
    m_pixelsPerSample = static_cast<double>(m_plot.Width()) / m_samples.size();
}

// ---------------------------------------------------------------------------------------------
// Scroll bars

double DataPlotRenderer::HorizontalTotal() const
{
    if (m_samples.empty())
        return 0.0;
    return static_cast<double>(m_samples.size() - 1) * m_pixelsPerSample;
}

DataPlotRenderer::ScrollBarSetting DataPlotRenderer::HorizontalScrollBar() const
{
    ScrollBarSetting bar;
    const double total = HorizontalTotal();
    if (!(total > 0.0))
        return bar;
    bar.maximum = ScrollRange;
    const double p = static_cast<double>(m_lastVisibleIndex) * m_pixelsPerSample - m_pixelOffset;
    if (p >= total)
        bar.value = ScrollRange;
    else
        bar.value = static_cast<int>(std::clamp(RoundHalfUp(ScrollRange * p / total), 0.0,
                                                static_cast<double>(ScrollRange)));
    bar.pageStep =
        static_cast<int>(std::min(RoundHalfUp(m_plot.Width() / total * ScrollRange), 1.0e9));
    return bar;
}

// r of the vertical bar: the data's height in pixels beyond what the plot shows, widened so that
// the current view fits in it. *below is b, how far the bottom of the view lies above the data.
double DataPlotRenderer::VerticalExtent(double* below) const
{
    const double dataMin = m_hasDataRange ? m_dataMin : 0.0;
    const double dataMax = m_hasDataRange ? m_dataMax : 0.0;
    double r = (dataMax == dataMin ? 0.0 : (dataMax - dataMin) * m_pixelsPerYUnit) -
               m_plot.Height() + 10.0;
    const double b = (m_yMin - dataMin) * m_pixelsPerYUnit + 5.0;
    if (b < 0.0)
        r -= b;
    else
        r = std::max(r, b);
    if (below)
        *below = b;
    return r;
}

DataPlotRenderer::ScrollBarSetting DataPlotRenderer::VerticalScrollBar() const
{
    ScrollBarSetting bar;
    // Without a value there is no data extent to scroll through.
    if (!m_hasDataRange)
        return bar;
    double b = 0.0;
    const double r = VerticalExtent(&b);
    if (!(r > 0.1))
        return bar;
    bar.maximum = ScrollRange;
    if (b <= 0.0)
        bar.value = ScrollRange;
    else if (b < r)
        bar.value = ScrollRange - static_cast<int>(RoundHalfUp(b / r * ScrollRange));
    else
        bar.value = 0;
    bar.pageStep =
        static_cast<int>(std::min(RoundHalfUp(m_plot.Height() / r * ScrollRange), 1.0e9));
    return bar;
}

double DataPlotRenderer::HorizontalPanForScroll(int delta) const
{
    // A larger value shows newer samples, which is a pan to the left.
    if (delta == 1 || delta == -1)
        return -10.0 * delta;
    return -static_cast<double>(delta) / ScrollRange * HorizontalTotal();
}

double DataPlotRenderer::VerticalPanForScroll(int delta) const
{
    // A larger value shows lower values, which is a pan upwards.
    if (delta == 1 || delta == -1)
        return -10.0 * delta;
    return -static_cast<double>(delta) / ScrollRange * VerticalExtent(nullptr);
}

// ---------------------------------------------------------------------------------------------
// Cross-hair and markers

void DataPlotRenderer::ShowCrossHair(int x, int y, bool snap)
{
    m_crossHair.shown = true;
    m_crossHair.snap = snap;
    m_crossHair.x = x;
    m_crossHair.y = y;
}

void DataPlotRenderer::HideCrossHair()
{
    m_crossHair.shown = false;
}

std::optional<std::size_t> DataPlotRenderer::CrossHairSample() const
{
    if (!m_crossHair.shown || m_samples.empty() || m_plot.IsEmpty() || !(m_pixelsPerSample > 0))
        return std::nullopt;
    if (m_crossHair.x < m_plot.left || m_crossHair.x > m_plot.right || m_crossHair.y < m_plot.top ||
        m_crossHair.y > m_plot.bottom)
        return std::nullopt;
    const double index = RoundHalfUp(SampleIndexAtPixel(m_crossHair.x));
    if (index < 0.0)
        return std::nullopt;
    const double newest = static_cast<double>(m_samples.size() - 1);
    return static_cast<std::size_t>(std::min(index, newest));
}

void DataPlotRenderer::SetMarker(int number, std::size_t sampleIndex)
{
    m_markers[number] = sampleIndex;
    emit Changed();
}

void DataPlotRenderer::RemoveMarker(int number)
{
    if (m_markers.erase(number))
        emit Changed();
}

void DataPlotRenderer::ClearMarkers()
{
    m_markers.clear();
    emit Changed();
}

// ---------------------------------------------------------------------------------------------
// Reduction of samples to points

DataPlotRenderer::Trace DataPlotRenderer::BuildTrace() const
{
    Trace trace;
    const std::size_t count = m_samples.size();
    if (count == 0 || m_plot.IsEmpty() || !(m_pixelsPerSample > 0.0) ||
        !std::isfinite(m_pixelsPerSample))
        return trace;

    const std::size_t last = std::min(m_lastVisibleIndex, count - 1);
    // One sample beyond each edge so that the lines leaving the plot are drawn up to the edge.
    const std::size_t hi = std::min(last + 1, count - 1);
    const double leftIndex = SampleIndexAtPixel(m_plot.left);
    trace.reachedLeftEdge = leftIndex > 0.0;
    const std::size_t lo =
        leftIndex <= 0.0 ? 0 : std::min(static_cast<std::size_t>(leftIndex), last);

    const double x0 = m_plot.right + m_pixelOffset - static_cast<double>(last) * m_pixelsPerSample;
    std::size_t runStart = 0;
    auto endRun = [&trace, &runStart]() {
        if (trace.points.size() > runStart)
            trace.runs.emplace_back(runStart, trace.points.size() - runStart);
        runStart = trace.points.size();
    };

    if (m_pixelsPerSample >= 0.5) {
        const std::size_t n = hi - lo + 1;
        trace.points.reserve(n);
        const bool squares = m_pixelsPerSample > 8.0;
        for (std::size_t k = lo; k <= hi; ++k) {
            const float v = m_samples[k];
            if (std::isnan(v)) {
                endRun();
                continue;
            }
            const QPointF p(x0 + static_cast<double>(k) * m_pixelsPerSample, YPixelOfValue(v));
            trace.points.push_back(p);
            if (squares)
                trace.squares.push_back(p);
        }
        endRun();
        return trace;
    }

    // Several samples share a pixel column: keep each column's first, minimum, maximum and last
    // value, which draws the column's whole vertical extent and joins it to its neighbours.
    trace.points.reserve(static_cast<std::size_t>(m_plot.Width() + 4) * 4);
    bool inColumn = false;
    double column = 0.0;
    float first = 0, minimum = 0, maximum = 0, lastValue = 0;
    auto flushColumn = [&]() {
        if (!inColumn)
            return;
        trace.points.emplace_back(column, YPixelOfValue(first));
        if (minimum != maximum) {
            // Walk to the nearer extreme first so that the column is one stroke.
            const bool minFirst = (first - minimum) <= (maximum - first);
            trace.points.emplace_back(column, YPixelOfValue(minFirst ? minimum : maximum));
            trace.points.emplace_back(column, YPixelOfValue(minFirst ? maximum : minimum));
        }
        if (lastValue != first || minimum != maximum)
            trace.points.emplace_back(column, YPixelOfValue(lastValue));
        inColumn = false;
    };
    const float* samples = m_samples.data();
    auto feedOne = [&](std::size_t k, double c) {
        const float v = samples[k];
        if (std::isnan(v)) {
            flushColumn();
            endRun();
            return;
        }
        if (inColumn && c == column) {
            minimum = std::min(minimum, v);
            maximum = std::max(maximum, v);
            lastValue = v;
            return;
        }
        flushColumn();
        inColumn = true;
        column = c;
        first = minimum = maximum = lastValue = v;
    };
    const double pps = m_pixelsPerSample;
    std::size_t k = lo;
    while (k <= hi) {
        // The samples of one pixel column: k up to the first one of the next column.
        const double c = std::floor(x0 + static_cast<double>(k) * pps);
        double next = std::ceil((c + 1.0 - x0) / pps);
        std::size_t end = next <= static_cast<double>(k) ? k + 1 : static_cast<std::size_t>(next);
        end = std::min(end, hi + 1);
        float mn = samples[k];
        float mx = samples[k];
        bool gap = false;
        for (std::size_t i = k; i < end; ++i) {
            const float v = samples[i];
            mn = v < mn ? v : mn;
            mx = v > mx ? v : mx;
            gap |= v != v;
        }
        if (gap) {
            for (std::size_t i = k; i < end; ++i)
                feedOne(i, c);
        } else if (inColumn && c == column) {
            minimum = std::min(minimum, mn);
            maximum = std::max(maximum, mx);
            lastValue = samples[end - 1];
        } else {
            flushColumn();
            inColumn = true;
            column = c;
            first = samples[k];
            lastValue = samples[end - 1];
            minimum = mn;
            maximum = mx;
        }
        k = end;
    }
    flushColumn();
    endRun();
    return trace;
}

// ---------------------------------------------------------------------------------------------
// Painting

QRect DataPlotRenderer::LabelBox(const QFontMetrics& metrics, const QString& text, int x, int y,
                                 int flags)
{
    const int w = metrics.horizontalAdvance(text);
    const int h = metrics.height();
    int left = x;
    if (flags & Qt::AlignHCenter)
        left = x - w / 2;
    else if (flags & Qt::AlignRight)
        left = x - w;
    int top = y;
    if (flags & Qt::AlignVCenter)
        top = y - h / 2;
    return QRect(left, top, w, h);
}

void DataPlotRenderer::DrawLabel(QPainter& painter, const QString& text, int x, int y,
                                 int flags) const
{
    if (text.isEmpty())
        return;
    const QRect box = LabelBox(QFontMetrics(painter.font()), text, x, y, flags);
    painter.fillRect(box.adjusted(-1, 0, 1, 0), BackgroundColour);
    painter.setPen(LabelColour);
    painter.drawText(box, Qt::AlignCenter, text);
}

bool DataPlotRenderer::IsReserved(const QRect& box) const
{
    const QRect padded = box.adjusted(-3, 0, 3, 0);
    for (const QRect& r : m_overlayLabels) {
        if (r.intersects(padded))
            return true;
    }
    return false;
}

void DataPlotRenderer::ReserveOverlayLabels(const QFontMetrics& metrics)
{
    m_overlayLabels.clear();
    const int labelRow = m_plot.bottom + 3;
    for (const auto& marker : m_markers) {
        if (marker.second >= m_samples.size())
            continue;
        const int x =
            static_cast<int>(RoundHalfUp(XPixelOfSample(static_cast<double>(marker.second))));
        if (x < m_plot.left || x > m_plot.right)
            continue;
        m_overlayLabels.push_back(
            LabelBox(metrics, XLabel(XValueOfSample(static_cast<double>(marker.second))), x,
                     labelRow, Qt::AlignHCenter));
    }
    CrossHairPoint point;
    if (LocateCrossHair(&point)) {
        m_overlayLabels.push_back(
            LabelBox(metrics, XLabel(point.xValue), point.x, labelRow, Qt::AlignHCenter));
        if (point.hasValue) {
            const QString text = PlotAxisMath::FormatYValue(point.value);
            m_overlayLabels.push_back(LabelBox(metrics, text, m_plot.left - 6, point.y,
                                               Qt::AlignRight | Qt::AlignVCenter));
            m_overlayLabels.push_back(LabelBox(metrics, text, m_plot.right + 4, point.y,
                                               Qt::AlignLeft | Qt::AlignVCenter));
        }
    }
}

void DataPlotRenderer::Paint(QPainter& painter, const QSize& viewportSize, bool focused)
{
    SetViewportSize(viewportSize);
    const QRect whole(QPoint(0, 0), viewportSize);
    painter.fillRect(whole, BackgroundColour);
    m_reachedLeftEdge = false;
    if (m_plot.IsEmpty() || m_pixelsPerYUnit == 0.0 || !std::isfinite(m_pixelsPerYUnit))
        return;
    SyncToNewest();

    painter.save();
    painter.setFont(PlotFont());

    // Outlines: the plot twice (on its rectangle and one pixel outside), the widget around all.
    painter.setPen(QPen(PlotOutlineColour, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(m_plot.left, m_plot.top, m_plot.Width(), m_plot.Height()));
    painter.drawRect(
        QRect(m_plot.left - 1, m_plot.top - 1, m_plot.Width() + 2, m_plot.Height() + 2));
    QPen outline(focused ? FocusOutlineColour : BackgroundColour, WidgetOutlineWidth);
    outline.setJoinStyle(Qt::MiterJoin);
    painter.setPen(outline);
    const double half = WidgetOutlineWidth / 2.0;
    painter.drawRect(QRectF(half, half, viewportSize.width() - WidgetOutlineWidth,
                            viewportSize.height() - WidgetOutlineWidth));

    ReserveOverlayLabels(QFontMetrics(painter.font()));
    PaintXGrid(painter);
    PaintYGrid(painter);
    PaintSamples(painter);
    PaintMarkers(painter);
    PaintCrossHair(painter);
    painter.restore();
}

void DataPlotRenderer::PaintXGrid(QPainter& painter)
{
    if (!(m_pixelsPerSample > 0.0))
        return;
    const double span = m_secondsPerSample * MinGridSpacing / m_pixelsPerSample;
    double pitch = 0.0;
    try {
        pitch = PlotAxisMath::CalcXGridPitch(span, m_timeAxis);
    } catch (const ExceptionWithString&) {
        // No sensible x scale (for example zero seconds per sample): no x grid rather than no plot.
        return;
    }
    const double xLeft = XValueAtPixel(m_plot.left);
    const double xRight = XValueAtPixel(m_plot.right);
    const double lowest = std::min(xLeft, xRight);
    const double highest = std::max(xLeft, xRight);
    const double mHi = std::floor(highest / pitch);
    const double mLo = std::ceil(lowest / pitch);
    if (!std::isfinite(mHi) || !std::isfinite(mLo) || mHi - mLo > m_plot.Width())
        return;

    const QFontMetrics metrics(painter.font());
    const int labelRow = m_plot.bottom + 3;
    const int dateRow = labelRow + metrics.height() + 1;
    const bool wrap = m_firstSampleDate.isValid();
    struct Labelled
    {
        int x;
        double value;
    };
    std::vector<Labelled> labelled;

    // Lines from the right edge leftwards; every second multiple of the pitch is labelled.
    for (double m = mHi; m >= mLo; m -= 1.0) {
        const double value = m * pitch;
        const int x = static_cast<int>(RoundHalfUp(XPixelOfValue(value)));
        if (x < m_plot.left || x > m_plot.right)
            continue;
        painter.setPen(QPen(GridColour, 1));
        painter.drawLine(x, m_plot.top, x, m_plot.bottom);
        if (m_showXLabels && std::fmod(m, 2.0) == 0.0)
            labelled.push_back({x, value});
    }
    if (!m_showXLabels)
        return;
    for (const Labelled& l : labelled) {
        const QString text =
            PlotAxisMath::FormatXValue(l.value, m_timeAxis, wrap, m_fractionDigits);
        if (!IsReserved(LabelBox(metrics, text, l.x, labelRow, Qt::AlignHCenter)))
            DrawLabel(painter, text, l.x, labelRow, Qt::AlignHCenter);
    }

    if (!m_timeAxis || !wrap)
        return;
    // Date row: the day at the left edge, then wherever a labelled line starts a new day.
    auto dayOf = [](double seconds) { return static_cast<qint64>(std::floor(seconds / 86400.0)); };
    qint64 day = dayOf(std::max(xLeft, 0.0));
    QString text = m_firstSampleDate.addDays(day).toString(QStringLiteral("dd/MM/yy"));
    DrawLabel(painter, text, m_plot.left, dateRow, Qt::AlignLeft);
    int occupiedTo = m_plot.left + metrics.horizontalAdvance(text);
    std::sort(labelled.begin(), labelled.end(),
              [](const Labelled& a, const Labelled& b) { return a.x < b.x; });
    for (const Labelled& l : labelled) {
        if (l.value < 0.0)
            continue;
        const qint64 lineDay = dayOf(l.value);
        if (lineDay == day)
            continue;
        day = lineDay;
        text = m_firstSampleDate.addDays(day).toString(QStringLiteral("dd/MM/yy"));
        const int w = metrics.horizontalAdvance(text);
        if (l.x - w / 2 <= occupiedTo + 4)
            continue;
        DrawLabel(painter, text, l.x, dateRow, Qt::AlignHCenter);
        occupiedTo = l.x - w / 2 + w;
    }
}

void DataPlotRenderer::PaintYGrid(QPainter& painter)
{
    double pitch = 0.0;
    try {
        pitch = PlotAxisMath::NiceStep(MinGridSpacing / m_pixelsPerYUnit);
    } catch (const ExceptionWithString&) {
        return;
    }
    const double mLo = std::ceil(m_yMin / pitch);
    const double mHi = std::floor(m_yMax / pitch);
    const QFontMetrics metrics(painter.font());
    int widestLabel = 0;
    if (std::isfinite(mLo) && std::isfinite(mHi) && mHi - mLo <= m_plot.Height()) {
        // From the bottom up.
        for (double m = mLo; m <= mHi; m += 1.0) {
            const double value = m == 0.0 ? 0.0 : m * pitch;
            const int y = YPixelOfValue(value);
            if (y < m_plot.top || y > m_plot.bottom)
                continue;
            painter.setPen(QPen(GridColour, 1));
            painter.drawLine(m_plot.left, y, m_plot.right, y);
            const QString text = PlotAxisMath::FormatYValue(value);
            widestLabel = std::max(widestLabel, metrics.horizontalAdvance(text));
            if (!IsReserved(LabelBox(metrics, text, m_plot.left - 6, y,
                                     Qt::AlignRight | Qt::AlignVCenter))) {
                DrawLabel(painter, text, m_plot.left - 6, y, Qt::AlignRight | Qt::AlignVCenter);
                DrawLabel(painter, text, m_plot.right + 4, y, Qt::AlignLeft | Qt::AlignVCenter);
            }
        }
    }

    if (m_yAxisTitle.isEmpty())
        return;
    // Upright along the left margin, centred on the plot, left of the value labels where the
    // margin allows.
    const int textHeight = metrics.height();
    int centreX = m_plot.left - 6 - widestLabel - 3 - textHeight / 2;
    centreX = std::max(centreX, WidgetOutlineWidth + textHeight / 2);
    const int centreY = (m_plot.top + m_plot.bottom) / 2;
    painter.save();
    painter.translate(centreX, centreY);
    painter.rotate(-90.0);
    painter.setPen(LabelColour);
    const int w = metrics.horizontalAdvance(m_yAxisTitle);
    painter.drawText(QRect(-w / 2 - 1, -textHeight / 2, w + 2, textHeight), Qt::AlignCenter,
                     m_yAxisTitle);
    painter.restore();
}

void DataPlotRenderer::PaintSamples(QPainter& painter)
{
    const Trace trace = BuildTrace();
    m_reachedLeftEdge = trace.reachedLeftEdge;
    if (trace.points.empty())
        return;
    painter.save();
    painter.setClipRect(QRect(m_plot.left, m_plot.top, m_plot.Width() + 1, m_plot.Height() + 1));
    QPen pen(DataColour, 2);
    pen.setCapStyle(Qt::SquareCap);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    // Separate segments, and the vertical ones (the min/max columns) as filled bars: the
    // stroker is many times slower on one long wide polyline that doubles back on itself, and
    // slower on a wide vertical line than the raster engine is on the same pixels as a fill.
    std::vector<QLineF> segments;
    segments.reserve(trace.points.size());
    std::vector<QRect> bars;
    for (const auto& run : trace.runs) {
        const QPointF* points = trace.points.data() + run.first;
        if (run.second == 1) {
            painter.drawPoint(points[0]);
            continue;
        }
        for (std::size_t i = 1; i < run.second; ++i) {
            const QPointF& a = points[i - 1];
            const QPointF& b = points[i];
            if (a == b)
                continue;
            if (a.x() == b.x()) {
                // What a 2-pixel square-capped pen covers for this line.
                const int x = static_cast<int>(a.x());
                const int y0 = static_cast<int>(std::min(a.y(), b.y()));
                const int y1 = static_cast<int>(std::max(a.y(), b.y()));
                bars.emplace_back(x - 1, y0 - 1, 2, y1 - y0 + 2);
            } else {
                segments.emplace_back(a, b);
            }
        }
    }
    painter.drawLines(segments.data(), static_cast<int>(segments.size()));
    for (const QRect& bar : bars)
        painter.fillRect(bar, DataColour);
    const double half = SampleSquareSize / 2.0;
    for (const QPointF& c : trace.squares) {
        painter.fillRect(QRectF(c.x() - half, c.y() - half, SampleSquareSize, SampleSquareSize),
                         DataColour);
    }
    painter.restore();
}

void DataPlotRenderer::PaintMarkers(QPainter& painter)
{
    const int labelRow = m_plot.bottom + 3;
    for (const auto& marker : m_markers) {
        if (marker.second >= m_samples.size())
            continue;
        const int x =
            static_cast<int>(RoundHalfUp(XPixelOfSample(static_cast<double>(marker.second))));
        if (x < m_plot.left || x > m_plot.right)
            continue;
        QPen pen(MarkerColour, 1, Qt::DashLine);
        painter.setPen(pen);
        painter.drawLine(x, m_plot.top, x, m_plot.bottom);
        painter.setPen(MarkerColour);
        painter.drawText(QPoint(x + 3, m_plot.top + QFontMetrics(painter.font()).ascent() + 2),
                         QStringLiteral("M%1").arg(marker.first));
        DrawLabel(painter, XLabel(XValueOfSample(static_cast<double>(marker.second))), x, labelRow,
                  Qt::AlignHCenter);
    }
}

bool DataPlotRenderer::LocateCrossHair(CrossHairPoint* point) const
{
    if (!m_crossHair.shown)
        return false;
    point->x = m_crossHair.x;
    point->y = m_crossHair.y;
    if (point->x < m_plot.left || point->x > m_plot.right || point->y < m_plot.top ||
        point->y > m_plot.bottom)
        return false;
    point->xValue = XValueAtPixel(point->x);
    point->value = ValueAtRow(point->y);
    point->hasValue = true;
    if (m_crossHair.snap) {
        if (const std::optional<std::size_t> sample = CrossHairSample()) {
            point->x = static_cast<int>(RoundHalfUp(XPixelOfSample(static_cast<double>(*sample))));
            point->xValue = XValueOfSample(static_cast<double>(*sample));
            point->value = m_samples[*sample];
            // A gap has no value to show.
            point->hasValue = !std::isnan(point->value);
            if (point->hasValue)
                point->y = YPixelOfValue(point->value);
        }
    }
    if (point->y < m_plot.top || point->y > m_plot.bottom)
        point->hasValue = false;
    return point->x >= m_plot.left && point->x <= m_plot.right;
}

void DataPlotRenderer::PaintCrossHair(QPainter& painter)
{
    CrossHairPoint point;
    if (!LocateCrossHair(&point))
        return;
    const QPen pen(CrossHairColour, 1, Qt::DotLine);
    painter.setPen(pen);
    painter.drawLine(point.x, m_plot.top, point.x, m_plot.bottom);
    if (point.hasValue) {
        painter.setPen(pen);
        painter.drawLine(m_plot.left, point.y, m_plot.right, point.y);
        const QString text = PlotAxisMath::FormatYValue(point.value);
        DrawLabel(painter, text, m_plot.left - 6, point.y, Qt::AlignRight | Qt::AlignVCenter);
        DrawLabel(painter, text, m_plot.right + 4, point.y, Qt::AlignLeft | Qt::AlignVCenter);
    }
    DrawLabel(painter, XLabel(point.xValue), point.x, m_plot.bottom + 3, Qt::AlignHCenter);
}
