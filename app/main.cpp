#include <iostream>
#include <string>
#include <vector>

#include <QMessageBox>
#include <QMetaObject>
#include <QPixmap>
#include <QTimer>

#include "app/AppOptions.h"
#include "app/EventLoopTrackingApp.h"
#include "mainwindow/TolvarenDiagnostics.h"

namespace {

// How long --screenshot waits for the card face before it gives up.
const int screenshotTimeoutMs = 60000;

// Saves the window once the card face has been refreshed from the card (so that it shows live
// values, not the texts of a bare form), then ends the program: 0 when the file was written.
void ArmScreenshot(TolvarenDiagnostics& window, const QString& path)
{
    QObject::connect(&window, &TolvarenDiagnostics::CardFaceRefreshed, &window,
                     [&window, path] {
                         const bool saved = window.grab().save(path, "PNG");
                         if (!saved)
                             std::cerr << "Could not write " << path.toStdString() << "\n";
                         QCoreApplication::exit(saved ? 0 : 1);
                     });
    QTimer::singleShot(screenshotTimeoutMs, &window, [] {
        std::cerr << "No card face within " << screenshotTimeoutMs / 1000 << " s\n";
        QCoreApplication::exit(3);
    });
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication::setOrganizationName(QStringLiteral("QEL"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("tolvaren.com"));
    QCoreApplication::setApplicationName(QStringLiteral("TolvarenDiagnostics"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TOLVAREN_VERSION_TEXT));

    // --help and --version answer before the application object exists, so they need no display.
    const AppOptions early = AppOptions::Parse(std::vector<std::string>(argv + 1, argv + argc),
                                               false);
    if (early.help) {
        std::cout << AppOptions::Usage(argv[0]);
        return 0;
    }
    if (early.version) {
        std::cout << AppOptions::VersionText();
        return 0;
    }

    EventLoopTrackingApp app(argc, argv);
    // The application object has taken out Qt's own options; what is left must be ours.
    const AppOptions options =
        AppOptions::Parse(std::vector<std::string>(argv + 1, argv + argc), true);
    if (!options.error.empty()) {
        std::cerr << argv[0] << ": " << options.error << "\nTry '" << argv[0]
                  << " --help' for more information.\n";
        return 1;
    }

    try {
        TolvarenDiagnostics window(QStringLiteral("MainWindow"), nullptr,
                                   Qt::WindowMinimizeButtonHint);
        window.show();
        if (options.simulate) {
            QMetaObject::invokeMethod(&window, "on_simulateInputCardButton_clicked",
                                      Qt::QueuedConnection);
        }
        if (!options.screenshotPath.empty())
            ArmScreenshot(window, QString::fromStdString(options.screenshotPath));
        return app.exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QString(),
                              QStringLiteral("Unexpected critical error: ") +
                                  QString::fromUtf8(e.what()),
                              QMessageBox::Ok);
        return 2;
    }
}
