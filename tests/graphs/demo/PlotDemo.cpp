// Shows the strip chart with a day of 15-minute samples on a time axis, with a gap where the
// logger had no power and two markers.
//
//   tolvaren_plot_demo                   opens the window
//   tolvaren_plot_demo --screenshot F    saves the window as the PNG file F and quits
#include "graphs/DataPlotRenderer.h"
#include "graphs/DataPlotWidget.h"

#include <QApplication>
#include <QCheckBox>
#include <QDate>
#include <QDateTime>
#include <QPixmap>
#include <QTime>
#include <QVBoxLayout>
#include <QWidget>

#include <cmath>
#include <cstdio>
#include <limits>

// Qt's offscreen platform plug-in keeps a few hundred bytes for the life of the process.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libqoffscreen.so\n";
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QString screenshotFile;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--screenshot") && i + 1 < args.size()) {
            screenshotFile = args[++i];
        } else {
            std::fprintf(stderr, "usage: tolvaren_plot_demo [--screenshot FILE]\n");
            return 1;
        }
    }

    QWidget window;
    window.setWindowTitle(QStringLiteral("Strip chart demo"));
    auto* layout = new QVBoxLayout(&window);
    auto* plot = new DataPlotWidget(&window);
    auto* follow = new QCheckBox(QStringLiteral("Follow newest data"), &window);
    follow->setChecked(true);
    layout->addWidget(plot, 1);
    layout->addWidget(follow);
    QObject::connect(plot, &DataPlotWidget::FollowingNewestDataChanged, follow,
                     &QCheckBox::setChecked);
    QObject::connect(follow, &QCheckBox::toggled, plot, &DataPlotWidget::SetFollowNewestData);

    // A day of a room temperature, one sample every 15 minutes, with an hour and a half missing
    // in the early afternoon.
    DataPlotRenderer& renderer = plot->Renderer();
    const int samplesPerDay = 24 * 4;
    std::vector<float> values;
    for (int k = 0; k < samplesPerDay; ++k) {
        const double hours = k / 4.0;
        double v =
            18.0 + 6.0 * std::sin((hours - 9.0) / 24.0 * 2.0 * M_PI) + 0.8 * std::sin(hours * 1.7);
        if (k >= 54 && k < 60)
            v = std::numeric_limits<double>::quiet_NaN();
        values.push_back(static_cast<float>(v));
    }
    plot->AddValues(values);
    renderer.SetTimeAxis(true);
    renderer.SetFractionDigits(0);
    renderer.SetSecondsPerSample(15 * 60);
    renderer.SetYAxisTitle(QString::fromUtf8("\u00b0C"));
    plot->SetYRange(-10, 40);
    plot->SetDateTimeOfLatestData(QDateTime(QDate(2026, 3, 14), QTime(23, 45)));
    renderer.SetMarker(1, 28);
    renderer.SetMarker(2, 76);

    window.resize(1000, 560);
    window.show();
    plot->ShowAllData();
    plot->setFocus();

    if (!screenshotFile.isEmpty()) {
        app.processEvents();
        // The cross-hair as a user sees it with the mouse over a sample.
        const DataPlotRenderer::PlotRect r = renderer.GetPlotRect();
        renderer.ShowCrossHair(static_cast<int>(renderer.XPixelOfSample(40)),
                               (r.top + r.bottom) / 2, true);
        if (!window.grab().save(screenshotFile, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(screenshotFile));
            return 1;
        }
        return 0;
    }
    return app.exec();
}
