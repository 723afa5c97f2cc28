// The port chooser listing network serial ports beside the machine's own. Run it with a settings
// folder of its own (XDG_CONFIG_HOME): it adds two network ports there. `--screenshot FILE` saves
// the chooser and quits.
#include <cstdio>

#include <QApplication>
#include <QEventLoop>
#include <QStringList>
#include <QTimer>

#include "comms/NetworkPortRegistry.h"
#include "widgets/SerialPortChooserDialog.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int at = args.indexOf("--screenshot");

    const int cabinet = NetworkPortRegistry::Add("rfc2217://10.20.4.31:4001");
    NetworkPortRegistry::Add("tcp://cabinet-7.plant.local:4002");

    SerialPortChooserDialog chooser(cabinet);
    chooser.resize(460, 260);
    chooser.show();
    if (at < 0 || at + 1 >= args.size())
        return chooser.exec();

    QEventLoop loop;
    QTimer::singleShot(800, &loop, &QEventLoop::quit);
    loop.exec();
    const bool saved = chooser.grab().save(args[at + 1], "PNG");
    if (!saved)
        std::fprintf(stderr, "cannot write %s\n", qPrintable(args[at + 1]));
    return saved ? 0 : 1;
}
