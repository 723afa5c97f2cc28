#include "graphs/DataPlotWidget.h"

#include "graphs/DataPlotRenderer.h"
#include "tests/support/EventLoopWait.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QFocusEvent>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTimer>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <functional>

namespace {

class DataPlotWidgetTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        w.resize(700, 480);
        w.show();
        ASSERT_TRUE(WaitFor([this] { return w.isVisible(); }));
        // Ramp 0..199 on a y range that shows all of it.
        w.SetYRange(-10, 210);
        std::vector<float> values;
        for (int k = 0; k < 200; ++k)
            values.push_back(static_cast<float>(k));
        w.AddValues(values);
    }

    QWidget* vp() { return w.viewport(); }
    DataPlotRenderer::PlotRect Plot() { return w.Renderer().GetPlotRect(); }
    QPoint PlotCentre()
    {
        const auto p = Plot();
        return QPoint((p.left + p.right) / 2, (p.top + p.bottom) / 2);
    }

    void Mouse(QEvent::Type type, const QPoint& pos, Qt::MouseButton button,
               Qt::MouseButtons buttons, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QMouseEvent e(type, pos, vp()->mapToGlobal(pos), button, buttons, mods);
        QApplication::sendEvent(vp(), &e);
    }

    void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QKeyEvent e(QEvent::KeyPress, key, mods);
        QApplication::sendEvent(&w, &e);
    }

    void Wheel(const QPoint& pos, int delta, Qt::KeyboardModifiers mods)
    {
        QWheelEvent e(QPointF(pos), QPointF(vp()->mapToGlobal(pos)), QPoint(), QPoint(0, delta),
                      Qt::NoButton, mods, Qt::NoScrollPhase, false);
        QApplication::sendEvent(vp(), &e);
    }

    // Opens the context menu at pos; `choose` gets the menu while it is open.
    void ContextMenuAt(const QPoint& pos, const std::function<void(QMenu*)>& choose)
    {
        QTimer poll;
        bool handled = false;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu || handled)
                return;
            handled = true;
            choose(menu);
            menu->close();
        });
        poll.start(10);
        QContextMenuEvent e(QContextMenuEvent::Mouse, pos, vp()->mapToGlobal(pos));
        QApplication::sendEvent(vp(), &e);
        EXPECT_TRUE(handled);
    }

    static void Trigger(QMenu* menu, const QString& text)
    {
        for (QAction* a : menu->actions()) {
            if (a->text() == text) {
                a->trigger();
                return;
            }
        }
        ADD_FAILURE() << "no menu entry " << text.toStdString();
    }

    DataPlotWidget w;
};

TEST_F(DataPlotWidgetTest, NumberKeysPlaceAndAltRemovesMarkers)
{
    const double x = w.Renderer().XPixelOfSample(150);
    Mouse(QEvent::MouseMove, QPoint(static_cast<int>(x), PlotCentre().y()), Qt::NoButton,
          Qt::NoButton);
    Key(Qt::Key_3);
    Mouse(QEvent::MouseMove,
          QPoint(static_cast<int>(w.Renderer().XPixelOfSample(120)) + 1, PlotCentre().y()),
          Qt::NoButton, Qt::NoButton);
    Key(Qt::Key_1);
    ASSERT_EQ(w.Renderer().Markers().size(), 2u);
    EXPECT_EQ(w.Renderer().Markers().at(3), 150u);
    EXPECT_EQ(w.Renderer().Markers().at(1), 120u);

    Key(Qt::Key_3, Qt::AltModifier);
    EXPECT_EQ(w.Renderer().Markers().count(3), 0u);
    EXPECT_EQ(w.Renderer().Markers().count(1), 1u);

    // Without the cross-hair over the plot nothing is placed.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(vp(), &leave);
    EXPECT_FALSE(w.Renderer().GetCrossHair().shown);
    Key(Qt::Key_5);
    EXPECT_EQ(w.Renderer().Markers().count(5), 0u);
}

TEST_F(DataPlotWidgetTest, ZoomInStopsFollowingAndTheBarAtItsEndResumesIt)
{
    QSignalSpy spy(&w, &DataPlotWidget::FollowingNewestDataChanged);
    EXPECT_EQ(w.horizontalScrollBar()->value(), 20000);

    Key(Qt::Key_Minus); // zooming out keeps following
    EXPECT_TRUE(w.IsFollowingNewestData());
    EXPECT_EQ(spy.count(), 0);

    Key(Qt::Key_Plus, Qt::ControlModifier);
    EXPECT_FALSE(w.IsFollowingNewestData());
    ASSERT_EQ(spy.count(), 1);
    EXPECT_FALSE(spy.at(0).at(0).toBool());

    w.horizontalScrollBar()->setValue(10000);
    EXPECT_FALSE(w.IsFollowingNewestData());
    w.AddValue(500.0f); // not shown: the view stays where it is
    EXPECT_NE(w.Renderer().LastVisibleIndex(), 200u);

    w.horizontalScrollBar()->setValue(20000);
    EXPECT_TRUE(w.IsFollowingNewestData());
    ASSERT_EQ(spy.count(), 2);
    EXPECT_TRUE(spy.at(1).at(0).toBool());
    EXPECT_EQ(w.Renderer().LastVisibleIndex(), 200u);
}

TEST_F(DataPlotWidgetTest, KeyZoomAxesFollowTheModifiers)
{
    const double pps = w.Renderer().PixelsPerSample();
    const double yPixels = w.Renderer().PixelsPerYUnit();
    Key(Qt::Key_Plus, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(w.Renderer().PixelsPerSample(), pps * 1.3);
    EXPECT_DOUBLE_EQ(w.Renderer().PixelsPerYUnit(), yPixels);
    Key(Qt::Key_Plus, Qt::AltModifier);
    EXPECT_DOUBLE_EQ(w.Renderer().PixelsPerSample(), pps * 1.3);
    EXPECT_NEAR(w.Renderer().PixelsPerYUnit(), yPixels * 1.3, 1e-9);
    Key(Qt::Key_Minus);
    EXPECT_NEAR(w.Renderer().PixelsPerSample(), pps, 1e-9);
    EXPECT_NEAR(w.Renderer().PixelsPerYUnit(), yPixels, 1e-9);
}

TEST_F(DataPlotWidgetTest, WheelZoomsOnlyWithModifiers)
{
    const double pps = w.Renderer().PixelsPerSample();
    const double yMin = w.Renderer().YMin();
    Wheel(PlotCentre(), 120, Qt::NoModifier);
    EXPECT_EQ(w.Renderer().PixelsPerSample(), pps);
    EXPECT_EQ(w.Renderer().YMin(), yMin);
    EXPECT_TRUE(w.IsFollowingNewestData());

    Wheel(PlotCentre(), 120, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(w.Renderer().PixelsPerSample(), pps * 1.3);
    EXPECT_EQ(w.Renderer().YMin(), yMin);
    EXPECT_FALSE(w.IsFollowingNewestData());

    Wheel(PlotCentre(), -120, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_NEAR(w.Renderer().PixelsPerSample(), pps, 1e-9);
    EXPECT_NE(w.Renderer().YMin(), yMin);

    // Outside the plot the wheel does not zoom.
    Wheel(QPoint(5, 5), 120, Qt::ControlModifier);
    EXPECT_NEAR(w.Renderer().PixelsPerSample(), pps, 1e-9);
}

TEST_F(DataPlotWidgetTest, DragStopsFollowingUntilReleasedAtTheNewestSample)
{
    QSignalSpy spy(&w, &DataPlotWidget::FollowingNewestDataChanged);
    const QPoint start = PlotCentre();
    Mouse(QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    EXPECT_FALSE(w.IsFollowingNewestData());
    EXPECT_EQ(vp()->cursor().shape(), Qt::ClosedHandCursor);
    Mouse(QEvent::MouseMove, start + QPoint(40, 0), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(w.Renderer().LastVisibleIndex(), 199u - 10u); // 4 px per sample
    EXPECT_LT(w.horizontalScrollBar()->value(), 20000);
    Mouse(QEvent::MouseButtonRelease, start + QPoint(40, 0), Qt::LeftButton, Qt::NoButton);
    EXPECT_FALSE(w.IsFollowingNewestData());
    EXPECT_NE(vp()->cursor().shape(), Qt::ClosedHandCursor);

    // Dragged back (and beyond) to the newest sample: following again on release.
    Mouse(QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    Mouse(QEvent::MouseMove, start - QPoint(80, 0), Qt::NoButton, Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, start - QPoint(80, 0), Qt::LeftButton, Qt::NoButton);
    EXPECT_TRUE(w.IsFollowingNewestData());
    ASSERT_EQ(spy.count(), 2);
    EXPECT_FALSE(spy.at(0).at(0).toBool());
    EXPECT_TRUE(spy.at(1).at(0).toBool());
}

TEST_F(DataPlotWidgetTest, ContextMenuHasItsEntriesAndStopsFollowing)
{
    QSignalSpy spy(&w, &DataPlotWidget::FollowingNewestDataChanged);
    QStringList texts;
    const QPoint at(static_cast<int>(w.Renderer().XPixelOfSample(180)), PlotCentre().y());
    ContextMenuAt(at, [&](QMenu* menu) {
        for (QAction* a : menu->actions())
            texts << (a->isSeparator() ? QStringLiteral("--") : a->text());
        Trigger(menu, QStringLiteral("Set Marker 2\t2"));
    });
    const QStringList expected = {"Zoom In\t+",
                                  "Zoom Out\t-",
                                  "Zoom In X-only\tCtrl +",
                                  "Zoom Out X-only\tCtrl -",
                                  "Zoom In Y-only\tAlt +",
                                  "Zoom Out Y-only\tAlt -",
                                  "--",
                                  "More zoom info",
                                  "--",
                                  "Set Marker 1\t1",
                                  "Set Marker 2\t2",
                                  "Clear Markers\t Alt 1,2"};
    EXPECT_EQ(texts, expected);
    EXPECT_FALSE(w.IsFollowingNewestData());
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(w.Renderer().Markers().at(2), 180u);
    EXPECT_FALSE(w.Renderer().GetCrossHair().shown);

    const double pps = w.Renderer().PixelsPerSample();
    const double underClick = w.Renderer().SampleIndexAtPixel(at.x());
    ContextMenuAt(at,
                  [&](QMenu* menu) { Trigger(menu, QStringLiteral("Zoom In X-only\tCtrl +")); });
    EXPECT_DOUBLE_EQ(w.Renderer().PixelsPerSample(), pps * 1.3);
    EXPECT_NEAR(w.Renderer().SampleIndexAtPixel(at.x()), underClick, 0.5);

    ContextMenuAt(at,
                  [&](QMenu* menu) { Trigger(menu, QStringLiteral("Clear Markers\t Alt 1,2")); });
    EXPECT_TRUE(w.Renderer().Markers().empty());
}

TEST_F(DataPlotWidgetTest, MoreZoomInfoIsPostedAsAnInformationBox)
{
    QString shown;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box && shown.isEmpty()) {
            shown = box->text();
            EXPECT_TRUE(box->windowTitle().isEmpty());
            box->accept();
        }
    });
    closer.start(10);
    ContextMenuAt(PlotCentre(), [&](QMenu* menu) {
        Trigger(menu, QStringLiteral("More zoom info"));
        // Posted: nothing is shown inside the menu's own loop.
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    });
    ASSERT_TRUE(WaitFor([&] { return !shown.isEmpty(); }));
    EXPECT_EQ(shown,
              QStringLiteral("The mouse-wheel can also be used to zoom:\n"
                             "Press CTRL and scroll the mouse-wheel to zoom in and out in X.\n"
                             "Press ALT  and scroll the mouse-wheel to zoom in and out in Y.\n"
                             "Press both CTRL and ALT to zoom equally in both directions."));
}

TEST_F(DataPlotWidgetTest, FocusOutlineSurvivesAPopup)
{
    auto outline = [this] { return vp()->grab().toImage().pixel(1, 1); };
    QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(&w, &in);
    EXPECT_EQ(outline(), qRgb(0, 0, 255));
    QFocusEvent toPopup(QEvent::FocusOut, Qt::PopupFocusReason);
    QApplication::sendEvent(&w, &toPopup);
    EXPECT_EQ(outline(), qRgb(0, 0, 255));
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(&w, &out);
    EXPECT_EQ(outline(), qRgb(0, 0, 0));
}

TEST_F(DataPlotWidgetTest, ResetStartsOverWithDefaults)
{
    QSignalSpy spy(&w, &DataPlotWidget::FollowingNewestDataChanged);
    Key(Qt::Key_Plus);
    w.Renderer().SetTimeAxis(true);
    w.Reset();
    EXPECT_EQ(w.Renderer().SampleCount(), 0u);
    EXPECT_FALSE(w.Renderer().TimeAxis());
    EXPECT_EQ(w.Renderer().YMin(), -100.0);
    EXPECT_EQ(w.Renderer().PixelsPerSample(), 4.0);
    EXPECT_TRUE(w.IsFollowingNewestData());
    ASSERT_EQ(spy.count(), 2);
    EXPECT_TRUE(spy.at(1).at(0).toBool());
    EXPECT_EQ(w.horizontalScrollBar()->maximum(), 0);
}

} // namespace
