#pragma once

#include <QAbstractScrollArea>
#include <QPoint>

#include <vector>

class DataPlotRenderer;
class QAction;
class QDateTime;
class QMenu;

// The strip chart as a widget: a scroll area whose viewport the renderer paints, turning mouse,
// wheel, keyboard and scroll-bar input into pans, zooms, markers and the cross-hair.
//
// Mouse: left-drag pans (and stops following the newest sample until the view is back at it);
// Ctrl+wheel zooms x, Alt+wheel y, both together both axes; moving shows the cross-hair (Alt
// turns off snapping to samples); right click opens the context menu.
// Keys: "+" / "-" zoom (Ctrl: x only, Alt: y only); 1 to 9 place that marker at the cross-hair's
// sample, Alt with 1 to 9 removes it.
//
// GUI thread only.
class DataPlotWidget : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit DataPlotWidget(QWidget* parent = nullptr);
    ~DataPlotWidget() override;

    // The renderer holds the samples and the settings (time axis, seconds per sample, labels,
    // markers...). Its setters repaint the widget. The reference is invalidated by Reset().
    DataPlotRenderer& Renderer() { return *m_renderer; }
    const DataPlotRenderer& Renderer() const { return *m_renderer; }

    void AddValue(float value);
    void AddValues(const std::vector<float>& values);
    void ShowAllData();
    void SetYRange(double a, double b);
    void SetDateTimeOfLatestData(const QDateTime& latest);
    bool IsFull() const;
    bool IsFollowingNewestData() const;
    // Starts over with a new, empty renderer with default settings.
    void Reset();

signals:
    void FollowingNewestDataChanged(bool newState);

public slots:
    void SetFollowNewestData(bool follow);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private slots:
    void OnRendererChanged();

private:
    void CreateRenderer();
    void ChangeFollowNewest(bool follow);
    void ZoomAbout(const QPoint& pos, bool inX, bool inY, bool zoomIn);
    void SetMarkerAtCrossHair(int number);
    void UpdateScrollBars();
    QMenu* ContextMenu();
    bool IsInsidePlot(const QPoint& pos) const;

    DataPlotRenderer* m_renderer = nullptr;
    QPoint m_dragLast;
    bool m_dragging = false;
    QPoint m_mousePos;
    bool m_mouseInside = false;
    QMenu* m_contextMenu = nullptr;
    QPoint m_menuPos;
    bool m_menuOpen = false;
    bool m_showFocus = false;
    // Set while the bars are being set from the view, so that their signals do not pan it.
    bool m_settingScrollBars = false;
};
