// The Modbus traffic window on the full simulated card, in-process, while the card is polled as
// the main window polls it. `--screenshot FILE` saves the window after a few seconds and quits.
#include <cstdio>

#include <QApplication>
#include <QEventLoop>
#include <QStringList>
#include <QTimer>

#include "modbus/ModbusMasterDatalink.h"
#include "protocol/TolvarenSnapshotGatherer.h"
#include "simulator/FullCardSimulator.h"
#include "widgets/CommsTrafficWindow.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int at = args.indexOf("--screenshot");

    FullCardSimulator card;
    ModbusMasterDatalink datalink(&card);
    TolvarenSnapshotGatherer gatherer(datalink);
    gatherer.RefreshSnapshot().get(); // the full gathering, before the log is watched

    auto* traffic = new CommsTrafficWindow(datalink, nullptr);
    traffic->resize(1000, 520);
    traffic->show();

    // Incremental gatherings, one every 250 ms, as the main window makes them.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] { gatherer.RefreshSnapshot().get(); });
    poll.start(250);

    if (at < 0 || at + 1 >= args.size())
        return app.exec();

    QEventLoop loop;
    QTimer::singleShot(4000, &loop, &QEventLoop::quit);
    loop.exec();
    poll.stop();
    const bool saved = traffic->grab().save(args[at + 1], "PNG");
    if (!saved)
        std::fprintf(stderr, "cannot write %s\n", qPrintable(args[at + 1]));
    delete traffic;
    return saved ? 0 : 1;
}
