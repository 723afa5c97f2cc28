#include "graphs/DataPlotWidget.h"

#include "graphs/DataPlotRenderer.h"

#include "app/PostMessageBox.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

namespace {

const char* const MoreZoomInfoText =
    "The mouse-wheel can also be used to zoom:\n"
    "Press CTRL and scroll the mouse-wheel to zoom in and out in X.\n"
    "Press ALT  and scroll the mouse-wheel to zoom in and out in Y.\n"
    "Press both CTRL and ALT to zoom equally in both directions.";

} // namespace

DataPlotWidget::DataPlotWidget(QWidget* parent) : QAbstractScrollArea(parent)
{
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    CreateRenderer();
}

DataPlotWidget::~DataPlotWidget() = default;

void DataPlotWidget::CreateRenderer()
{
    m_renderer = new DataPlotRenderer(this);
    m_renderer->SetViewportSize(viewport()->size());
    connect(m_renderer, &DataPlotRenderer::Changed, this, &DataPlotWidget::OnRendererChanged);
}

void DataPlotWidget::Reset()
{
    const bool wasFollowing = m_renderer->FollowNewest();
    delete m_renderer;
    CreateRenderer();
    UpdateScrollBars();
    viewport()->update();
    if (!wasFollowing)
        emit FollowingNewestDataChanged(true);
}

void DataPlotWidget::OnRendererChanged()
{
    UpdateScrollBars();
    viewport()->update();
}

// ---------------------------------------------------------------------------------------------
// Data and settings

void DataPlotWidget::AddValue(float value)
{
    AddValues(std::vector<float>(1, value));
}

void DataPlotWidget::AddValues(const std::vector<float>& values)
{
    // Samples appended right of the view do not change what is shown.
    const bool atNewest = m_renderer->FollowNewest() || m_renderer->IsAtNewest();
    m_renderer->AddValues(values);
    if (atNewest)
        viewport()->update();
    UpdateScrollBars();
}

void DataPlotWidget::ShowAllData()
{
    m_renderer->SetViewportSize(viewport()->size());
    m_renderer->ShowAllData();
    UpdateScrollBars();
    viewport()->update();
}

void DataPlotWidget::SetYRange(double a, double b)
{
    m_renderer->SetYRange(a, b);
}

void DataPlotWidget::SetDateTimeOfLatestData(const QDateTime& latest)
{
    m_renderer->SetDateTimeOfLatestData(latest);
}

bool DataPlotWidget::IsFull() const
{
    return m_renderer->IsFull();
}

bool DataPlotWidget::IsFollowingNewestData() const
{
    return m_renderer->FollowNewest();
}

void DataPlotWidget::SetFollowNewestData(bool follow)
{
    m_renderer->SetFollowNewest(follow);
    UpdateScrollBars();
    viewport()->update();
}

void DataPlotWidget::ChangeFollowNewest(bool follow)
{
    if (m_renderer->FollowNewest() == follow)
        return;
    m_renderer->SetFollowNewest(follow);
    viewport()->update();
    emit FollowingNewestDataChanged(follow);
}

// ---------------------------------------------------------------------------------------------
// Scroll bars

void DataPlotWidget::UpdateScrollBars()
{
    m_renderer->SetViewportSize(viewport()->size());
    if (m_renderer->GetPlotRect().IsEmpty())
        return;
    const DataPlotRenderer::ScrollBarSetting h = m_renderer->HorizontalScrollBar();
    const DataPlotRenderer::ScrollBarSetting v = m_renderer->VerticalScrollBar();
    m_settingScrollBars = true;
    horizontalScrollBar()->setRange(0, h.maximum);
    horizontalScrollBar()->setPageStep(h.pageStep);
    horizontalScrollBar()->setValue(h.value);
    verticalScrollBar()->setRange(0, v.maximum);
    verticalScrollBar()->setPageStep(v.pageStep);
    verticalScrollBar()->setValue(v.value);
    m_settingScrollBars = false;
}

void DataPlotWidget::scrollContentsBy(int dx, int dy)
{
    // The viewport is never scrolled as pixels: the bars pan the view instead.
    if (m_settingScrollBars)
        return;
    if (dx != 0) {
        ChangeFollowNewest(horizontalScrollBar()->value() == DataPlotRenderer::ScrollRange);
        m_renderer->Pan(m_renderer->HorizontalPanForScroll(-dx), 0.0);
    }
    if (dy != 0)
        m_renderer->Pan(0.0, m_renderer->VerticalPanForScroll(-dy));
    UpdateScrollBars();
    viewport()->update();
}

// ---------------------------------------------------------------------------------------------
// Painting and events

void DataPlotWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    m_renderer->Paint(painter, viewport()->size(), m_showFocus);
}

void DataPlotWidget::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

bool DataPlotWidget::IsInsidePlot(const QPoint& pos) const
{
    const DataPlotRenderer::PlotRect plot = m_renderer->GetPlotRect();
    return !plot.IsEmpty() && pos.x() >= plot.left && pos.x() <= plot.right &&
           pos.y() >= plot.top && pos.y() <= plot.bottom;
}

void DataPlotWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    m_dragLast = event->pos();
    viewport()->setCursor(Qt::ClosedHandCursor);
    ChangeFollowNewest(false);
    event->accept();
}

void DataPlotWidget::mouseMoveEvent(QMouseEvent* event)
{
    m_mousePos = event->pos();
    m_mouseInside = true;
    if (m_dragging) {
        const QPoint d = event->pos() - m_dragLast;
        m_dragLast = event->pos();
        m_renderer->Pan(d.x(), d.y());
        UpdateScrollBars();
    }
    m_renderer->ShowCrossHair(event->pos().x(), event->pos().y(),
                              !(event->modifiers() & Qt::AltModifier));
    viewport()->update();
    event->accept();
}

void DataPlotWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_dragging) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    m_dragging = false;
    viewport()->unsetCursor();
    if (m_renderer->IsAtNewest())
        ChangeFollowNewest(true);
    event->accept();
}

bool DataPlotWidget::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::Leave) {
        m_mouseInside = false;
        if (!m_menuOpen) {
            m_renderer->HideCrossHair();
            viewport()->update();
        }
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void DataPlotWidget::wheelEvent(QWheelEvent* event)
{
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const bool alt = event->modifiers() & Qt::AltModifier;
    const QPoint pos = event->position().toPoint();
    if ((!ctrl && !alt) || !IsInsidePlot(pos)) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    // Some platforms turn Alt+wheel into a horizontal turn.
    int delta = event->angleDelta().y();
    if (delta == 0)
        delta = event->angleDelta().x();
    if (delta != 0)
        ZoomAbout(pos, ctrl, alt, delta > 0);
    event->accept();
}

void DataPlotWidget::keyPressEvent(QKeyEvent* event)
{
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const bool alt = event->modifiers() & Qt::AltModifier;
    const int key = event->key();
    if (key == Qt::Key_Plus || key == Qt::Key_Minus) {
        QPoint pos = m_mousePos;
        if (!m_mouseInside || !IsInsidePlot(pos)) {
            const DataPlotRenderer::PlotRect plot = m_renderer->GetPlotRect();
            pos = QPoint((plot.left + plot.right) / 2, (plot.top + plot.bottom) / 2);
        }
        const bool xOnly = ctrl && !alt;
        const bool yOnly = alt && !ctrl;
        ZoomAbout(pos, !yOnly, !xOnly, key == Qt::Key_Plus);
        event->accept();
        return;
    }
    if (key >= Qt::Key_1 && key <= Qt::Key_9) {
        const int number = key - Qt::Key_0;
        if (alt)
            m_renderer->RemoveMarker(number);
        else
            SetMarkerAtCrossHair(number);
        event->accept();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void DataPlotWidget::SetMarkerAtCrossHair(int number)
{
    if (const std::optional<std::size_t> sample = m_renderer->CrossHairSample())
        m_renderer->SetMarker(number, *sample);
}

void DataPlotWidget::ZoomAbout(const QPoint& pos, bool inX, bool inY, bool zoomIn)
{
    const double factor = zoomIn ? DataPlotRenderer::ZoomInFactor : DataPlotRenderer::ZoomOutFactor;
    if (zoomIn)
        ChangeFollowNewest(false);
    m_renderer->SetViewportSize(viewport()->size());
    m_renderer->Zoom(pos.x(), pos.y(), inX ? factor : 0.0, inY ? factor : 0.0);
    UpdateScrollBars();
    viewport()->update();
}

void DataPlotWidget::focusInEvent(QFocusEvent* event)
{
    m_showFocus = true;
    viewport()->update();
    QAbstractScrollArea::focusInEvent(event);
}

void DataPlotWidget::focusOutEvent(QFocusEvent* event)
{
    // The context menu takes the focus only for a moment; the outline stays meanwhile.
    if (event->reason() != Qt::PopupFocusReason) {
        m_showFocus = false;
        viewport()->update();
    }
    QAbstractScrollArea::focusOutEvent(event);
}

// ---------------------------------------------------------------------------------------------
// Context menu

QMenu* DataPlotWidget::ContextMenu()
{
    if (m_contextMenu)
        return m_contextMenu;
    m_contextMenu = new QMenu(this);
    QMenu* menu = m_contextMenu;
    auto addZoom = [this, menu](const QString& text, bool inX, bool inY, bool zoomIn) {
        connect(menu->addAction(text), &QAction::triggered, this,
                [this, inX, inY, zoomIn]() { ZoomAbout(m_menuPos, inX, inY, zoomIn); });
    };
    addZoom(QStringLiteral("Zoom In\t+"), true, true, true);
    addZoom(QStringLiteral("Zoom Out\t-"), true, true, false);
    addZoom(QStringLiteral("Zoom In X-only\tCtrl +"), true, false, true);
    addZoom(QStringLiteral("Zoom Out X-only\tCtrl -"), true, false, false);
    addZoom(QStringLiteral("Zoom In Y-only\tAlt +"), false, true, true);
    addZoom(QStringLiteral("Zoom Out Y-only\tAlt -"), false, true, false);
    menu->addSeparator();
    // Posted rather than shown here: a modal box inside the menu's own loop would nest loops.
    connect(menu->addAction(QStringLiteral("More zoom info")), &QAction::triggered, this,
            []() { PostMessageBox(QString::fromLatin1(MoreZoomInfoText)); });
    menu->addSeparator();
    connect(menu->addAction(QStringLiteral("Set Marker 1\t1")), &QAction::triggered, this,
            [this]() { SetMarkerAtCrossHair(1); });
    connect(menu->addAction(QStringLiteral("Set Marker 2\t2")), &QAction::triggered, this,
            [this]() { SetMarkerAtCrossHair(2); });
    connect(menu->addAction(QStringLiteral("Clear Markers\t Alt 1,2")), &QAction::triggered, this,
            [this]() { m_renderer->ClearMarkers(); });
    return m_contextMenu;
}

void DataPlotWidget::contextMenuEvent(QContextMenuEvent* event)
{
    ChangeFollowNewest(false);
    m_menuPos = event->pos();
    m_renderer->SetViewportSize(viewport()->size());
    // The marker entries use the sample under the click.
    m_renderer->ShowCrossHair(m_menuPos.x(), m_menuPos.y(),
                              !(event->modifiers() & Qt::AltModifier));
    m_menuOpen = true;
    ContextMenu()->exec(event->globalPos());
    m_menuOpen = false;
    m_renderer->HideCrossHair();
    viewport()->update();
    event->accept();
}
