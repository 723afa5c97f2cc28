#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "cardui/TolvarenCardWidget.h"
#include "tests/support/CardUiRig.h"
#include "widgets/CommsTrafficWindow.h"

namespace {

QAction* TrafficEntry(TolvarenCardWidget* face)
{
    for (QAction* action : face->OptionsMenu()->actions()) {
        if (action->text() == "Modbus traffic")
            return action;
    }
    return nullptr;
}

std::vector<CommsTrafficWindow*> TrafficWindows()
{
    std::vector<CommsTrafficWindow*> windows;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* traffic = qobject_cast<CommsTrafficWindow*>(w))
            windows.push_back(traffic);
    }
    return windows;
}

TEST(ShowModbusTrafficTest, OpensOneTrafficWindowAndMinimizesTheMainWindow)
{
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
    for (bool supported : {false, true}) {
        CardUiRig rig;
        rig.Fill(1, 10, 2, 2).trafficLogSupported = supported;
        QMainWindow mainWindow;
        auto* face = new TolvarenCardWidget(&rig.datalink, &mainWindow);
        mainWindow.setCentralWidget(face);
        mainWindow.show();
        face->UpdateFromSnapshot(&rig.gatherer);
        QAction* entry = TrafficEntry(face);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->isEnabled(), supported);
        if (!supported)
            continue;

        entry->trigger();
        ASSERT_EQ(TrafficWindows().size(), 1u);
        QPointer<CommsTrafficWindow> traffic = TrafficWindows().front();
        EXPECT_EQ(traffic->Datalink(), &rig.datalink);
        EXPECT_EQ(traffic->parentWidget(), nullptr);
        EXPECT_TRUE(traffic->isVisible());
        EXPECT_TRUE(mainWindow.isMinimized());

        // A second time the same window comes back to the front.
        traffic->showMinimized();
        mainWindow.showNormal();
        entry->trigger();
        ASSERT_EQ(TrafficWindows().size(), 1u);
        EXPECT_EQ(TrafficWindows().front(), traffic.data());
        EXPECT_FALSE(traffic->isMinimized());
        EXPECT_TRUE(mainWindow.isMinimized());
        delete traffic.data();
    }
}

} // namespace
