#include <QApplication>

#include <cstdlib>

#include <gtest/gtest.h>

#include "tests/support/LeakSuppressions.h"

extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libqoffscreen.so\n";
}

int main(int argc, char** argv)
{
    // Without a display QApplication aborts; widget tests run headless.
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
