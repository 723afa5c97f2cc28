// Opens the live and the 8-day graph of input 1 of the full simulated card, in-process.
// `--screenshot LIVE.png HISTORICAL.png` saves both windows once they have data, then quits.
#include <cstdio>

#include <QApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include "graphs/GraphWindow.h"
#include "modbus/ModbusMasterDatalink.h"
#include "simulator/FullCardSimulator.h"

namespace {

// Runs the event loop for the given time.
void Run(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

bool Save(QWidget* window, const QString& file)
{
    if (window && window->grab().save(file, "PNG"))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int at = args.indexOf("--screenshot");
    const bool screenshot = at >= 0 && at + 2 < args.size();

    FullCardSimulator card;
    ModbusMasterDatalink datalink(&card);
    const QString profile = QStringLiteral("Voltage 0-10V <-> 0-100%");
    QPointer<GraphWindow> historical =
        GraphWindow::OpenHistoricalGraph(datalink, Tolvaren::Input, 0, profile, nullptr);
    QPointer<GraphWindow> live =
        GraphWindow::OpenLiveGraph(datalink, Tolvaren::Input, 0, profile, nullptr);
    for (GraphWindow* w : {historical.data(), live.data()}) {
        if (w)
            w->resize(900, 480);
    }
    if (live)
        live->move(40, 40);
    if (historical)
        historical->move(80, 560);

    if (!screenshot)
        return app.exec();

    // Twelve seconds of live samples; the 8-day download takes a fraction of that.
    Run(12000);
    // The whole 8 days, as "Show all data" shows them.
    if (historical)
        historical->on_showAllButton_clicked();
    Run(200);
    const bool saved = Save(live, args[at + 1]) && Save(historical, args[at + 2]);
    delete live;
    delete historical;
    return saved ? 0 : 1;
}
