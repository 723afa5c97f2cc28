#include "cardui/TolvarenCardWidget.h"

#include <exception>

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QMenu>
#include <QMessageBox>
#include <QPalette>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <boost/make_shared.hpp>

#include "app/PostMessageBox.h"
#include "async/FutureThen.h"
#include "cardui/CardDetailsWidget.h"
#include "cardui/CardParamsWidget.h"
#include "comms/ExceptionWithString.h"
#include "graphs/AskCsvFileName.h"
#include "protocol/HistoricalDataDownloader.h"
#include "protocol/TolvarenCommsCommon.h"
#include "protocol/TolvarenSnapshotGatherer.h"
#include "ui_TolvarenCardWidget.h"
#include "widgets/AboutDialog.h"
#include "widgets/CommsTrafficWindow.h"
#include "widgets/ConfigInfoWindow.h"
#include "widgets/ProgressDialog.h"

// The resources of a static library are registered only on request.
static void InitCardUiResources()
{
    Q_INIT_RESOURCE(cardui);
}

namespace {

QString CardName(int cardType)
{
    return QString::fromLatin1(TolvarenCardName(cardType));
}

void SetForeground(QWidget* widget, const QColor& colour)
{
    QPalette pal = widget->palette();
    pal.setColor(QPalette::WindowText, colour);
    widget->setPalette(pal);
}

} // namespace

TolvarenCardWidget::TolvarenCardWidget(ModbusMasterDatalink* datalink, QWidget* parent)
    : QWidget(parent), m_ui(new Ui::TolvarenCardWidget), m_datalink(datalink),
      m_asyncCalls(new FutureThen)
{
    InitCardUiResources();
    m_ui->setupUi(this);
    m_currentScrollArea = m_ui->detailsContainerSingle;

    for (QScrollArea* area : {m_ui->detailsContainerSingle, m_ui->detailsContainerTabbed}) {
        connect(area->verticalScrollBar(), SIGNAL(rangeChanged(int, int)), this,
                SLOT(scrollRangeChanged(int, int)));
    }

    BuildOptionsMenu();
}

TolvarenCardWidget::~TolvarenCardWidget() = default;

void TolvarenCardWidget::BuildOptionsMenu()
{
    m_optionsMenu = new QMenu(this);
    QMenu* menu = m_optionsMenu;

    // Entries whose operation the program does not offer stay visible but disabled.
    menu->addAction("Save card config to file", this, SLOT(SaveCardConfigToFile()));
    menu->addAction("Set card config from file", this, SLOT(SetCardConfigFromFile()));
    menu->addSeparator();
    ConnectToParentSlot(menu->addAction("Export card config to CSV file"), "ExportToCsv()");
    ConnectToParentSlot(menu->addAction("Import points fields from CSV file"), "ImportFromCsv()");
    menu->addAction("Import format help", this, SLOT(ImportFormatHelp()));
    menu->addSeparator();
    menu->addAction("Save card report...", this, SLOT(SaveCardReport()));
    menu->addSeparator();

    m_ui->menuButton->setMenu(menu);
}

void TolvarenCardWidget::ConnectToParentSlot(QAction* action, const char* slotSignature)
{
    QWidget* owner = parentWidget();
    if (owner && owner->metaObject()->indexOfSlot(slotSignature) >= 0) {
        const QByteArray slot = QByteArray("1") + slotSignature; // what SLOT() makes
        connect(action, SIGNAL(triggered()), owner, slot.constData());
    } else {
        action->setEnabled(false);
    }
}

void TolvarenCardWidget::CompleteOptionsMenu(bool trafficLogSupported)
{
    QMenu* eightDay = m_optionsMenu->addMenu("8-day data");
    eightDay->addAction("Download all data to CSV file", this, SLOT(DownloadAllHistoricalData()));
    eightDay->addAction("Clear all data for all IO", this, SLOT(ClearAllHistoricalData()));

    m_modbusTrafficAction =
        m_optionsMenu->addAction("Modbus traffic", this, SLOT(ShowModbusTraffic()));
    m_modbusTrafficAction->setEnabled(trafficLogSupported);
    m_optionsMenu->addAction("Show dip-switch configuration", this, SLOT(ShowDipSwitchConfig()));
    m_optionsMenu->addAction("About", this, SLOT(ShowAboutDialog()));
}

void TolvarenCardWidget::UpdateFromSnapshot(TolvarenSnapshotGatherer* gatherer)
{
    const TolvarenSnapshot& s = gatherer->Snapshot();

    if (!m_detailsWidget) {
        const QString name = CardName(s.cardType);

        if (s.numControlModules > 0) {
            m_currentScrollArea = m_ui->detailsContainerTabbed;
            AddModuleTabs(s.numControlModules);
            m_ui->stackedWidget->setCurrentWidget(m_ui->tabsPage);
        } else {
            m_currentScrollArea = m_ui->detailsContainerSingle;
            m_ui->stackedWidget->setCurrentWidget(m_ui->singlePage);
        }

        m_detailsWidget = new CardDetailsWidget(*m_datalink, s.cardType, m_currentScrollArea);
        m_currentScrollArea->setWidget(m_detailsWidget);

        m_ui->titleLabel->setText(name + QString(" - Serial Number %1").arg(s.serialNumber));
        m_ui->hardwareRevisionLabel->setText(s.hardwareRevision == 3 && s.cardType == 1
                                                 ? QStringLiteral("3/4")
                                                 : QString::number(s.hardwareRevision));
        CompleteOptionsMenu(s.trafficLogSupported);
    }

    m_ui->firmwareVersionLabel->setText(QString::fromUtf8(s.firmwareVersion.c_str()) + " - " +
                                        (s.calibrated ? "" : "NOT ") + "calibrated");
    m_ui->supplyVoltageLabel->setText(QString::number(double(s.boardVoltage), 'f', 1));
    if (s.healthy) {
        m_ui->healthyLabel->setText(QStringLiteral("HEALTHY"));
        SetForeground(m_ui->healthyLabel, Qt::black);
    } else {
        m_ui->healthyLabel->setText(QStringLiteral("FAULT"));
        SetForeground(m_ui->healthyLabel, Qt::red);
    }
    m_ui->resetOccurredLabel->setVisible(s.resetOccurred);

    m_detailsWidget->UpdateFromSnapshot(gatherer);
}

int TolvarenCardWidget::CardType() const
{
    return m_detailsWidget ? m_detailsWidget->CardType() : 0;
}

void TolvarenCardWidget::GetScrollPosition(int& horizontal, int& vertical) const
{
    horizontal = m_currentScrollArea->horizontalScrollBar()->value();
    vertical = m_currentScrollArea->verticalScrollBar()->value();
}

void TolvarenCardWidget::RestoreScrollPosition(int horizontal, int vertical)
{
    QScrollBar* bar = m_currentScrollArea->verticalScrollBar();
    if (bar->maximum() > 0) {
        bar->setValue(vertical);
    } else {
        m_pendingScrollHorizontal = horizontal;
        m_pendingScrollVertical = vertical;
    }
}

void TolvarenCardWidget::scrollRangeChanged(int, int)
{
    QScrollBar* bar = m_currentScrollArea->verticalScrollBar();
    if (bar->maximum() > 0 && m_pendingScrollVertical != 0) {
        bar->setValue(m_pendingScrollVertical);
        m_pendingScrollHorizontal = 0;
        m_pendingScrollVertical = 0;
    }
}

void TolvarenCardWidget::ImportFormatHelp()
{
    QMessageBox::information(this, QString(),
                             "The first four columns of the CSV file are read in as:\n\n"
                             "    I1, Label for Input 1, Part number, Notes\n"
                             "    I2, Label for Input 2, Part number, Notes\n"
                             "    I3, Label for Input 3, Part number, Notes\n"
                             "    O1, Label for Output 1, Part number, Notes\n"
                             "    O2, Label for Output 2, Part number, Notes\n"
                             "    O3, Label for Output 3, Part number, Notes\n\n"
                             "Extra columns are ignored.\n"
                             "Lines that don't start with I<n> or O<n> are ignored.\n");
}

// The window belongs to the main window that owns this card's datalink: it is that window's
// top-level child, so it goes when that window goes, and a second main window (another card)
// gets a window of its own instead of raising this card's.
void TolvarenCardWidget::ShowDipSwitchConfig()
{
    QWidget* owner = window();
    if (auto* existing = owner->findChild<ConfigInfoWindow*>()) {
        existing->showNormal();
        existing->show();
        existing->activateWindow();
        existing->raise();
        return;
    }
    auto* configWindow = new ConfigInfoWindow(*m_datalink, owner);
    configWindow->show();
}

void TolvarenCardWidget::ShowAboutDialog()
{
    AboutDialog dialog(nullptr);
    dialog.exec();
}

void TolvarenCardWidget::DownloadAllHistoricalData()
{
    const QString fileName = AskCsvFileName(this);
    if (fileName.isEmpty())
        return;

    // Declared in this order so that the downloader (and its worker) goes before the dialog its
    // progress is posted to.
    ProgressDialog dialog(this);
    HistoricalDataDownloader downloader(
        *m_datalink, fileName.toUtf8().toStdString(), [&dialog](float percent) {
            QMetaObject::invokeMethod(&dialog, "setPercent", Qt::QueuedConnection,
                                      Q_ARG(float, percent));
        });
    // The dialog closes only once the worker has stopped.
    dialog.SetCancelHandler([&downloader, &dialog] {
        downloader.InterruptAndJoin();
        dialog.reject();
    });

    boost::future<void> delivered;
    try {
        // A cancelled download abandons its promise: the continuation is not run, so nothing is
        // reported.
        delivered = m_asyncCalls->Then<void, void>(
            downloader.Start(), [&dialog](boost::future<void>& done) {
                try {
                    done.get();
                    PostMessageBox("All data retrieved successfully.");
                } catch (const std::exception& e) {
                    PostMessageBox("Failed: " + QString::fromUtf8(e.what()));
                } catch (...) {
                    PostMessageBox("Unexpected failure.");
                }
                QMetaObject::invokeMethod(&dialog, "accept", Qt::QueuedConnection);
            });
    } catch (const std::exception& e) {
        // No worker could be started.
        QMessageBox::warning(this, QString(), "Failed: " + QString::fromUtf8(e.what()));
        return;
    }

    dialog.exec();
    downloader.InterruptAndJoin();
    // The continuation uses the dialog: let it finish (the worker has ended, so it is quick)
    // before the dialog goes.
    delivered.wait();
}

void TolvarenCardWidget::ClearAllHistoricalData()
{
    if (QMessageBox::question(this, QString(),
                              "This will delete all of the 8-day data stored on the card. Are you "
                              "sure?",
                              QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No) != QMessageBox::Yes)
        return;
    try {
        TolvarenCommsCommon comms(*m_datalink);
        const unsigned numInputs = comms.GetNumInputs().get();
        const unsigned numOutputs = comms.GetNumOutputs().get();
        for (unsigned i = 0; i < numInputs; ++i)
            comms.ClearHistoricalData(Tolvaren::Input, i).get();
        for (unsigned i = 0; i < numOutputs; ++i)
            comms.ClearHistoricalData(Tolvaren::Output, i).get();
        QMessageBox::information(this, QString(), "All 8-day data cleared.");
    } catch (const std::exception& e) {
        QMessageBox::critical(this, QString(),
                              "Failed to clear all 8-day data: " + QString::fromUtf8(e.what()));
    }
}

void TolvarenCardWidget::on_resetOccurredLabel_linkActivated(QString)
{
    try {
        TolvarenCommsCommon comms(*m_datalink);
        const unsigned seconds = comms.ReadNamedVariable("SecondsSinceReset").get().AsUInt32();
        const QDateTime resetTime = QDateTime::currentDateTime().addSecs(-qint64(seconds));
        const auto answer = QMessageBox::question(
            this, QString(),
            "Power failure or other reset occurred at " + resetTime.toString(Qt::TextDate) +
                "\n\nClear the reset flag?",
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer == QMessageBox::Yes)
            comms.WriteSingleCoil(TolvarenCommsCommon::bitResetOccurred, false).get();
    } catch (const std::exception& e) {
        QMessageBox::warning(this, QString(),
                             "Failed to access reset data: " + QString::fromUtf8(e.what()));
    }
}

void TolvarenCardWidget::AddModuleTabs(int numModules)
{
    const auto shared = boost::make_shared<SharedCardParams>();
    for (int i = 0; i < numModules; ++i) {
        auto* page = new QWidget;
        auto* layout = new QVBoxLayout(page);
        layout->setSpacing(0);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* params = new CardParamsWidget(i, shared, *m_datalink, page);
        layout->addWidget(params);
        connect(params, SIGNAL(ModuleNameChanged(QString)), this,
                SLOT(HandleModuleNamedChanged(QString)));
        m_ui->tabWidget->addTab(page, QStringLiteral("Loading..."));
    }
}

void TolvarenCardWidget::HandleModuleNamedChanged(QString newName)
{
    auto* params = qobject_cast<CardParamsWidget*>(sender());
    if (!params)
        return;
    m_ui->tabWidget->setTabText(params->ModuleIndex() + 1, newName.trimmed());
}
void TolvarenCardWidget::ShowModbusTraffic()
{
    CommsTrafficWindow* traffic = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* candidate = qobject_cast<CommsTrafficWindow*>(w);
        if (candidate && candidate->Datalink() == m_datalink) {
            traffic = candidate;
            break;
        }
    }
    if (traffic) {
        traffic->showNormal();
        traffic->show();
        traffic->activateWindow();
        traffic->raise();
    } else {
        traffic = new CommsTrafficWindow(*m_datalink, nullptr);
        traffic->show();
    }
    // A minimized main window stops its polling, so the log shows only what the user does.
    window()->showMinimized();
}
