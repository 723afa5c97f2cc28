#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include "cardui/RawValueKeys.h"

// R is recorded application-wide; Shift comes from Qt's record of the modifiers, which only
// spontaneous (QTest) key events update.
TEST(RawValueKeysTest, RIsRecordedUntilItsRealReleaseOrTheApplicationLosesFocus)
{
    InstallRawValueKeyWatcher();
    QWidget window;
    window.show();
    auto send = [&](QEvent::Type type, int key, bool autoRepeat = false) {
        QKeyEvent event(type, key, Qt::ShiftModifier, QString(), autoRepeat);
        QApplication::sendEvent(&window, &event);
    };
    QTest::keyPress(&window, Qt::Key_Shift, Qt::ShiftModifier);
    EXPECT_FALSE(AreRawValueKeysHeld());
    QTest::keyPress(&window, Qt::Key_R, Qt::ShiftModifier);
    EXPECT_TRUE(AreRawValueKeysHeld());
    send(QEvent::KeyPress, Qt::Key_T);
    send(QEvent::KeyRelease, Qt::Key_T);
    EXPECT_TRUE(AreRawValueKeysHeld());
    // Auto-repeat sends release and press pairs while the key stays down.
    send(QEvent::KeyRelease, Qt::Key_R, true);
    EXPECT_TRUE(AreRawValueKeysHeld());
    send(QEvent::KeyRelease, Qt::Key_R);
    EXPECT_FALSE(AreRawValueKeysHeld());

    // Losing the focus may swallow the release.
    send(QEvent::KeyPress, Qt::Key_R);
    EXPECT_TRUE(AreRawValueKeysHeld());
    QEvent deactivate(QEvent::ApplicationDeactivate);
    QApplication::sendEvent(qApp, &deactivate);
    EXPECT_FALSE(AreRawValueKeysHeld());
    QTest::keyRelease(&window, Qt::Key_Shift, Qt::NoModifier);
}
