// The main of the application-layer and main-window tests: like the support library's GUI main,
// but the application object is the program's own EventLoopTrackingApp (deferred slot calls,
// the critical box). Being part of the executable, this main is the one linked.
#include <cstdlib>

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "app/EventLoopTrackingApp.h"
#include "tests/support/LeakSuppressions.h"

extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libqoffscreen.so\n";
}

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("QEL"));
    QCoreApplication::setApplicationName(QStringLiteral("TolvarenDiagnostics"));
    // Run by hand as well as by CTest: the user's own settings are never touched.
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    EventLoopTrackingApp app(argc, argv);
    return RUN_ALL_TESTS();
}
