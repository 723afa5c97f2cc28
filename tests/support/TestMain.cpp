#include <QCoreApplication>

#include <gtest/gtest.h>

#include "tests/support/LeakSuppressions.h"
#include "tests/support/ThreadSuppressions.h"

extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libqoffscreen.so\n";
}

extern "C" const char* __tsan_default_suppressions()
{
    return "race:QObject::event\n"
           "called_from_lib:libQt5Core.so.5\n";
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Queued deliveries and timers need an application object even without widgets.
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
