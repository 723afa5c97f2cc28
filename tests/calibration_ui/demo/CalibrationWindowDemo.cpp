// The calibration window on an Input-Card rig served in-process on pseudo-terminals: the board
// holds the default parameters and a whole calibration runs at once, its settle times cut to a
// twentieth. `--screenshot FILE` saves the window once the run has succeeded and quits (exit
// code 1 when the run fails or the file cannot be written); without it the window stays open.
#include <cstdio>
#include <memory>

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSplitter>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <boost/chrono.hpp>
#include <boost/thread/thread.hpp>

#include "calibration/CalibBoardParams.h"
#include "calibration/ui/CalibrationWidget.h"
#include "calibration/ui/ICardWindow.h"
#include "tests/calibration/ServedRig.h"
#include "tests/calibration_ui/RigCardWindow.h"

namespace {

QString LogText(QWidget* window)
{
    return window->findChild<QPlainTextEdit*>(QStringLiteral("logWidget"))->toPlainText();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("QEL"));
    QCoreApplication::setApplicationName(QStringLiteral("TolvarenDiagnostics"));
    const QStringList args = app.arguments();
    const int at = args.indexOf("--screenshot");
    const bool screenshot = at >= 0 && at + 1 < args.size();

    CalibrationRig::Setup setup;
    setup.inputCardSerial = 1207;
    setup.seed = 5;
    ServedRig served(CalibrationRig::Kind::InputCard, setup);
    served.Rig().SetNoise(0.4);
    CalibBoardParams::StoreParamsToBoard(ServedRig::secondPort, CalibParams::Defaults());
    RigCardWindow cardWindow(served.InputLink());
    QTemporaryDir logDir;

    QPointer<CalibrationWidget> window =
        new CalibrationWidget(cardWindow, nullptr, ServedRig::secondPort);
    // Tall enough for the controls, all four rows of sliders and a screenful of the log tables.
    window->resize(1200, 1040);
    if (auto* splitter = window->findChild<QSplitter*>(QStringLiteral("splitter")))
        splitter->setSizes({760, 280});
    window->findChild<QLineEdit*>("logDirectoryEdit")->setText(logDir.path());
    window->findChild<QLineEdit*>("allowJitterVREdit")->setText("2");
    window->findChild<QLineEdit*>("allowJitterIEdit")->setText("2");
    window->SetRunSleep(
        [](int ms) { boost::this_thread::sleep_for(boost::chrono::milliseconds(ms / 20)); });
    window->show();
    QTimer::singleShot(0, window, [&] { window->on_calibrateButton_pressed(); });

    int result = 0;
    QTimer watch;
    if (screenshot) {
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!window) {
                app.exit(1);
                return;
            }
            if (window->IsRunning())
                return;
            watch.stop();
            if (!LogText(window).contains("Calibration SUCCESS")) {
                std::fprintf(stderr, "the calibration failed:\n%s\n", qPrintable(LogText(window)));
                app.exit(1);
                return;
            }
            if (!window->grab().save(args[at + 1], "PNG")) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(args[at + 1]));
                app.exit(1);
                return;
            }
            app.exit(0);
        });
        watch.start(100);
    }
    result = app.exec();
    // The window joins its run before the rig goes.
    delete window.data();
    return result;
}
