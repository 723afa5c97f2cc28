// The main window on a network serial port (ser2net, RFC 2217, in front of tolvaren-sim): the
// server going away and coming back is followed without the user.

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "comms/NetworkPortRegistry.h"
#include "mainwindow/TolvarenDiagnostics.h"
#include "tests/mainwindow/WindowWaits.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FakeSysfs.h"
#include "tests/support/NetworkSerialServer.h"
#include "tests/support/ServedCardLink.h"

namespace {

TEST(NetworkPortRecoveryTest, AServerRestartTakesTheFaceAwayAndBringsItBackByItself)
{
    FakeSysfs sysfs; // no real port of this machine takes part
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ChildProcess sim(ServedCardLink::ProgramBeside(), {"--no-pacing"});
    const auto line = sim.LineStartingWith("TOLVAREN_EXTRA_SERIAL_PORTS=");
    ASSERT_TRUE(line) << sim.Output();
    NetworkSerialServer server(NetworkSerialServer::Ser2netRfc2217,
                               line->substr(line->find('=') + 1), dir.path().toStdString());
    const int number = NetworkPortRegistry::Add(server.Url());
    QSettings().setValue(QStringLiteral("MainWindow/preferredPortNum"), number);
    const QString waiting = QStringLiteral("Waiting for COM%1 to be available...").arg(number);
    {
        TolvarenDiagnostics window(QStringLiteral("MainWindow"), nullptr,
                                   Qt::WindowMinimizeButtonHint);
        window.show();
        ASSERT_TRUE(RunUntil([&] { return window.CardWidget() != nullptr; }))
            << window.StatusText().toStdString();

        server.Stop();
        EXPECT_TRUE(RunUntil([&] {
            return !window.CardWidget() && window.StatusText() == waiting &&
                   window.StatusToolTip().contains(QStringLiteral("connection refused"));
        })) << window.StatusText().toStdString()
            << " / " << window.StatusToolTip().toStdString();
        EXPECT_EQ(window.StatusToolTip().toStdString(),
                  "Last error: Cannot connect to 127.0.0.1:" + std::to_string(server.TcpPort()) +
                      ": connection refused");

        server.Start();
        EXPECT_TRUE(RunUntil([&] { return window.CardWidget() != nullptr; }))
            << window.StatusText().toStdString();
    }
    NetworkPortRegistry::Remove(number);
    QSettings().remove(QStringLiteral("MainWindow/preferredPortNum"));
}

} // namespace
