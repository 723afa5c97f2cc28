#include "mainwindow/TolvarenDiagnostics.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QCloseEvent>
#include <QDesktopWidget>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QMetaObject>
#include <QPixmapCache>
#include <QSettings>
#include <QThread>
#include <QTimer>

#include <boost/make_shared.hpp>
#include <boost/throw_exception.hpp>

#include "app/EventLoopTrackingApp.h"
#include "async/FutureThen.h"
#include "async/QtSlotCallPackage.h"
#include "cardui/CardDetailsWidget.h"
#include "cardui/IoPointWidget.h"
#include "cardui/TolvarenCardWidget.h"
#include "comms/AutoReconnectSerialComms.h"
#include "comms/ExceptionWithString.h"
#include "comms/SerialPlatform.h"
#include "graphs/GraphWindow.h"
#include "modbus/ModbusErrors.h"
#include "modbus/ModbusMasterDatalink.h"
#include "protocol/CardConfigCsv.h"
#include "protocol/TolvarenSnapshotGatherer.h"
#include "report/SnapshotJson.h"
#include "protocol/TolvarenTypes.h"
#include "simulator/DEDOCardSimulator.h"
#include "widgets/CommsTrafficWindow.h"
#include "widgets/ConfigImportDialog.h"
#include "widgets/DefaultFolder.h"
#include "widgets/SerialPortOptionsWidget.h"
#include "widgets/WaitCursor.h"

#include "ui_TolvarenDiagnostics.h"

namespace {

const int pollIntervalMs = 250;
// Height of the first card face when no size has been saved: some rows, and no taller than a
// 768-pixel screen allows.
const int firstCardFaceHeight = 700;
// A card that serves only its traffic log: no card face is built for it.
const int trafficOnlyCardType = 5;

} // namespace

TolvarenDiagnostics::TolvarenDiagnostics(QString settingsGroup, QWidget* parent,
                                         Qt::WindowFlags flags)
    : QMainWindow(parent, flags | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      m_settingsGroup(std::move(settingsGroup)), m_savedPos(0, 0), m_savedSize(-1, -1),
      m_ui(new Ui::TolvarenDiagnosticsClass), m_then(new FutureThen)
{
    m_pollTimer.reset(new QTimer);
    LoadSettings();
    m_pollTimer->setSingleShot(true);
    connect(m_pollTimer.get(), &QTimer::timeout, this, &TolvarenDiagnostics::PollCard);

    ResetToBeginning(true, 1);

    setWindowTitle(QStringLiteral("Tolvaren Diagnostics v%1.%2")
                       .arg(TOLVAREN_VERSION_MAJOR)
                       .arg(TOLVAREN_VERSION_MINOR));
}

TolvarenDiagnostics::~TolvarenDiagnostics()
{
    RestoreBusyCursor();
    // The card face, or the idle face with the options widget and its share of the comms.
    m_cardWidget = nullptr;
    m_optionsWidget = nullptr;
    delete takeCentralWidget();
    m_pollTimer.reset();
    // Waits for a delivery still being prepared; a call it queues dies with this object.
    m_then.reset();
    m_gatherer.reset();
    // Graph windows are top-level children of this window that talk to the card through the
    // datalink: they go before it does.
    qDeleteAll(findChildren<GraphWindow*>());
    // Traffic windows are top-level windows of their own on the same datalink; those stopped
    // when their card went are this window's too.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* traffic = qobject_cast<CommsTrafficWindow*>(w);
        if (traffic && traffic->OpenedOn() == m_datalink.get()) {
            traffic->disconnect(this);
            delete traffic;
        }
    }
    m_datalink.reset();
    // Last owner: the comms' threads end here, so none of them reports to a half-destroyed
    // window.
    m_comms.reset();
}

// ---- Comms feedback (comms threads) -------------------------------------------------------

// Queued even when a report comes from the window's own thread: the comms call with their lock
// held, and the irrecoverable error is thrown by the handler.
void TolvarenDiagnostics::OnCommsUp(int currCommPort)
{
    QMetaObject::invokeMethod(this, "OnCommsUpImpl", Qt::QueuedConnection,
                              Q_ARG(int, currCommPort));
}

void TolvarenDiagnostics::OnCommsDown(int previousCommPort, const std::string& reasonMsg)
{
    QMetaObject::invokeMethod(this, "OnCommsDownImpl", Qt::QueuedConnection,
                              Q_ARG(int, previousCommPort),
                              Q_ARG(QString, QString::fromStdString(reasonMsg)));
}

void TolvarenDiagnostics::HandleIrrecoverableCommsError(const std::string& msg)
{
    QMetaObject::invokeMethod(this, "HandleIrrecoverableCommsErrorImpl", Qt::QueuedConnection,
                              Q_ARG(QString, QString::fromStdString(msg)));
}

void TolvarenDiagnostics::HandleIrrecoverableCommsErrorImpl(QString msg)
{
    boost::throw_exception(ExceptionWithString("Irrecoverable comms handling error: " +
                                               msg.toStdString()));
}

// The connection state is read by polling, not from these reports.
void TolvarenDiagnostics::OnCommsUpImpl(int) {}

void TolvarenDiagnostics::OnCommsDownImpl(int, QString) {}

// ---- Queries -------------------------------------------------------------------------------

QString TolvarenDiagnostics::StatusText() const
{
    return m_cardWidget ? QString() : m_ui->statusLabel->text();
}

QString TolvarenDiagnostics::StatusToolTip() const
{
    return m_cardWidget ? QString() : m_ui->statusLabel->toolTip();
}

// ---- Settings ------------------------------------------------------------------------------

void TolvarenDiagnostics::LoadSettings()
{
    QSettings settings;
    settings.beginGroup(m_settingsGroup);
    m_preferredPort = settings.value(QStringLiteral("preferredPortNum"), 0).toInt();
    // No size yet: the first card face gets one that fits it (FirstCardFaceSize).
    m_savedSize = settings.value(QStringLiteral("size"), QSize()).toSize();
    m_savedPos = settings.value(QStringLiteral("pos"), QPoint(0, 0)).toPoint();
}

void TolvarenDiagnostics::SaveSettings()
{
    QSettings settings;
    settings.beginGroup(m_settingsGroup);
    if (m_comms && !m_comms->HasSubstitute())
        settings.setValue(QStringLiteral("preferredPortNum"), m_comms->GetConfiguredCommPort());
    if (m_cardWidget) {
        settings.setValue(QStringLiteral("pos"), m_savedPos);
        settings.setValue(QStringLiteral("size"), m_savedSize);
    }
}

QPoint TolvarenDiagnostics::PositionToKeep() const
{
    // The application nudges every new window one pixel to the right shortly after it is first
    // shown. When that lands after the window was placed, keeping pos() would move the window
    // one pixel further at every start.
    if (m_placed && pos() == m_placedPos + QPoint(1, 0))
        return m_placedPos;
    return pos();
}

void TolvarenDiagnostics::closeEvent(QCloseEvent* event)
{
    if (m_cardWidget) {
        m_savedPos = PositionToKeep();
        m_savedSize = size();
    }
    SaveSettings();
    QMainWindow::closeEvent(event);
}

// ---- Faces ---------------------------------------------------------------------------------

void TolvarenDiagnostics::ResetToBeginning()
{
    ResetToBeginning(false, 1);
}

void TolvarenDiagnostics::ResetToBeginning(bool forceFullReset)
{
    ResetToBeginning(forceFullReset, 1);
}

void TolvarenDiagnostics::ResetToBeginning(bool forceFullReset, int errorCode)
{
    if (m_cardWidget || forceFullReset) {
        if (m_cardWidget) {
            m_savedPos = PositionToKeep();
            m_savedSize = size();
            m_cardWidget->GetScrollPosition(m_savedScrollHorizontal, m_savedScrollVertical);
            m_savedCardType = m_cardWidget->CardType();
            SaveSettings();
            RestoreBusyCursor();
            // Whatever answers next may be another card: a traffic window keeps to the card it
            // was opened for, and its log never gets another card's frames.
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* traffic = qobject_cast<CommsTrafficWindow*>(w);
                if (traffic && traffic->Datalink() == m_datalink.get())
                    traffic->CardGone();
            }
        }
        m_cardWidget = nullptr;
        m_optionsWidget = nullptr;
        // Removed before setupUi, so that connecting the new form's slots by name finds only the
        // new widgets; and the layout forgets the card face's minimum size at once, or the form
        // could not shrink the window to its own size.
        DeleteFace();
        layout()->activate();
        m_ui->setupUi(this);

        if (m_comms) {
            m_optionsWidget = new SerialPortOptionsWidget(m_comms, m_ui->containerWidget);
        } else {
            m_optionsWidget =
                new SerialPortOptionsWidget(this, m_preferredPort, m_ui->containerWidget);
            m_comms = m_optionsWidget->GetComms();
            m_datalink.reset(new ModbusMasterDatalink(m_comms.get()));
        }
        m_ui->verticalLayout->addWidget(m_optionsWidget, 0, Qt::AlignHCenter);
    }
    m_gatherer.reset();
    // An export that waited for a re-read of this card is not carried over to whatever card
    // answers next.
    m_exportPending = false;
    SetStatusText(errorCode);
    m_pollTimer->start(pollIntervalMs);
}

void TolvarenDiagnostics::SetStatusText(int errorCode)
{
    m_ui->statusLabel->setToolTip(QString());
    if (!m_comms->IsCommsUp()) {
        const int configuredPort = m_comms->GetConfiguredCommPort();
        // Why the port did not open (a network port's server refusing, unknown or silent).
        const std::string openError = m_comms->GetLastOpenError();
        if (!openError.empty())
            m_ui->statusLabel->setToolTip(QStringLiteral("Last error: ") +
                                          QString::fromStdString(openError));
        if (configuredPort != 0)
            ShowStatus(QStringLiteral("Waiting for COM%1 to be available...").arg(configuredPort));
        else if (m_comms->ManyPortsAvailable())
            ShowStatus(QStringLiteral("Many ports available - manual choice needed"));
        else
            ShowStatus(QStringLiteral("Waiting for an available serial port..."));
        return;
    }
    // A USB adapter whose latency timer the open could not lower slows every reply down.
    QString latencyWarning;
    if (!m_comms->HasSubstitute()) {
        const std::string path = SerialPlatform::DevicePathOfPort(m_comms->GetCurrentCommPort());
        latencyWarning = QString::fromStdString(
            SerialPlatform::UsbLatencyWarning(SerialPlatform::UsbLatencyTimerMs(path)));
        m_ui->statusLabel->setToolTip(latencyWarning);
    }
    switch (errorCode) {
    case -1:
        ShowStatus(QStringLiteral("Card firmware is too old"));
        break;
    case -2:
        ShowStatus(QStringLiteral("Card firmware is too new - upgrade this PC application"));
        break;
    case 1:
        ShowStatus(QStringLiteral("Using COM%1, waiting for card...")
                       .arg(m_comms->GetCurrentCommPort()));
        break;
    default:
        m_ui->statusLabel->setToolTip(
            (latencyWarning.isEmpty() ? QString() : latencyWarning + QLatin1Char('\n')) +
            QStringLiteral("Last error: ") + m_lastErrorText);
        ShowStatus(QStringLiteral("Invalid response from card"));
        break;
    }
}

void TolvarenDiagnostics::ShowStatus(const QString& text)
{
    QLabel* label = m_ui->statusLabel;
    label->setText(text);
    // At least as tall as the wrapped text needs at the label's narrowest, whatever the font,
    // so that no layout around it can cut a line off.
    label->setMinimumHeight(qMax(21, label->heightForWidth(label->minimumWidth())));
    emit StatusTextChanged(text);
}

void TolvarenDiagnostics::GatheringOccurringCallback()
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, "GatheringOccurringCallback", Qt::AutoConnection);
        return;
    }
    if (!m_cardWidget) {
        ShowStatus(QStringLiteral("Using COM%1, card found, gathering data...")
                       .arg(m_comms->GetCurrentCommPort()));
    }
}

// Reported while the first gathering of a card runs; a report that arrives once the gathering
// has ended (it was queued before the result) changes nothing.
void TolvarenDiagnostics::ShowGatheringProgress(int percent)
{
    if (m_cardWidget || !m_gatheringPending)
        return;
    ShowStatus(QStringLiteral("Using COM%1, card found, gathering data... %2%")
                   .arg(m_comms->GetCurrentCommPort())
                   .arg(percent));
}

void TolvarenDiagnostics::PollCard()
{
    if (!m_comms->IsCommsUp()) {
        PostResetToBeginning(false, 1);
        return;
    }
    // The result of the last gathering re-arms the timer when it arrives.
    if (m_gatheringPending)
        return;
    if (!m_gatherer) {
        m_gatherer.reset(new TolvarenSnapshotGatherer(*m_datalink));
        m_gatherer->SetGatheringOccurringCallback([this] { GatheringOccurringCallback(); });
        m_gatherer->SetProgressCallback([this](unsigned done, unsigned expected) {
            const int percent = expected > 0 ? int(qMin(done, expected) * 100ull / expected) : 0;
            QMetaObject::invokeMethod(
                this, [this, percent] { ShowGatheringProgress(percent); }, Qt::QueuedConnection);
        });
    }
    if (m_pollingPaused) {
        m_pollTimer->start(pollIntervalMs);
        return;
    }
    if (!isVisible() || isMinimized()) {
        m_pollTimer->start(pollIntervalMs);
        emit PollSkippedWhileHidden();
        return;
    }
    m_gatheringPending = true;
    ThenDeliverToSlot(*m_then, m_gatherer->RefreshSnapshot(), this, "HandleSnapshotGathered");
}

void TolvarenDiagnostics::HandleSnapshotGathered(FuturePtr<void>::type fut)
{
    m_gatheringPending = false;
    if (m_cardWidget && !m_cardWidget->isEnabled() && m_gatherer)
        RestoreBusyCursor();
    // The gatherer this result belongs to has been dropped (reset, refresh, simulation): what
    // it found says nothing about the card now.
    if (!m_gatherer) {
        m_pollTimer->start(pollIntervalMs);
        return;
    }
    try {
        fut->get();
        if (m_cardWidget && !m_gatherer->Snapshot().fullGathering) {
            m_cardWidget->UpdateFromSnapshot(m_gatherer.get());
            m_pollTimer->start(pollIntervalMs);
            emit CardFaceRefreshed();
        } else {
            EventLoopTrackingApp::PostSlotCall(QtSlotCallPackage(this, "CreateCardWidget"));
        }
    } catch (const Modbus::Error& e) {
        m_lastErrorText = QString::fromUtf8(e.what());
        PostResetToBeginning(m_cardWidget != nullptr, static_cast<int>(e.Kind()));
    } catch (const Tolvaren::FirmwareTooOldError&) {
        m_lastErrorText.clear();
        PostResetToBeginning(m_cardWidget != nullptr, -1);
    } catch (const Tolvaren::FirmwareTooNewError&) {
        m_lastErrorText.clear();
        PostResetToBeginning(m_cardWidget != nullptr, -2);
    }
}

void TolvarenDiagnostics::PostResetToBeginning(bool forceFullReset, int errorCode)
{
    EventLoopTrackingApp::PostSlotCall(QtSlotCallPackage(
        this, "ResetToBeginning", Q_ARG(bool, forceFullReset), Q_ARG(int, errorCode)));
}

void TolvarenDiagnostics::CreateCardWidget()
{
    if (!m_gatherer)
        return;
    const int cardType = m_gatherer->Snapshot().cardType;
    if (cardType == trafficOnlyCardType) {
        // A device without I/O points is served by its traffic window alone: no card face, no
        // more polling, and closing that window ends this one.
        auto* traffic = new CommsTrafficWindow(*m_datalink, nullptr);
        connect(traffic, &QObject::destroyed, this, &QWidget::close);
        traffic->show();
        hide();
        return;
    }

    const bool cardFaceShownBefore = m_cardWidget != nullptr;
    if (m_cardWidget) {
        m_cardWidget->GetScrollPosition(m_savedScrollHorizontal, m_savedScrollVertical);
        m_savedCardType = m_cardWidget->CardType();
    }

    m_optionsWidget = nullptr;
    auto* cardWidget = new TolvarenCardWidget(m_datalink.get(), this);
    DeleteFace();
    m_cardWidget = nullptr;
    setCentralWidget(cardWidget);
    m_cardWidget = cardWidget;
    cardWidget->setVisible(true);
    cardWidget->UpdateFromSnapshot(m_gatherer.get());
    KeepAsFound(m_gatherer->Snapshot());
    cardWidget->SetReportContext(m_comms->HasSubstitute()
                                     ? QStringLiteral("simulated card")
                                     : QStringLiteral("COM%1").arg(m_comms->GetCurrentCommPort()),
                                 m_asFound, m_asFoundSource);

    if (!cardFaceShownBefore) {
        if (m_savedSize.width() > 0 && m_savedSize.height() > 0)
            resize(m_savedSize);
        else
            resize(FirstCardFaceSize());
        PlaceWindow();
    }
    if (cardType == m_savedCardType)
        cardWidget->RestoreScrollPosition(m_savedScrollHorizontal, m_savedScrollVertical);
    if (m_exportPending) {
        m_exportPending = false;
        ExportToCsv();
    }
    m_pollTimer->start(pollIntervalMs);
    emit CardFaceCreated();
}

void TolvarenDiagnostics::KeepAsFound(const TolvarenSnapshot& snapshot)
{
    // The first full reading of a card stays its "as found" for as long as this window talks to
    // it: later full readings (a refresh, a restore, a reconnection after a line fault) are the
    // visit's work, not what was found. Another card starts afresh.
    const QJsonObject card = m_asFound.value("card").toObject();
    if (!m_asFound.isEmpty() && card.value("cardType").toInt() == snapshot.cardType &&
        card.value("serialNumber").toInt() == snapshot.serialNumber)
        return;
    m_asFound = SnapshotToJson(snapshot);
    m_asFoundSource = QStringLiteral("first full reading of this connection, ") +
                      QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss");
}

QSize TolvarenDiagnostics::FirstCardFaceSize()
{
    // Worked out from the layouts' minimum sizes, not from geometry (a top-level window takes
    // its new size from the window system later): the window's minimum width once the scroll
    // area must show the rows whole, with a vertical scroll bar, a row with its limits block
    // (its widest) included.
    QScrollArea* area = m_cardWidget->CurrentScrollArea();
    int rowsWidth = 0;
    if (CardDetailsWidget* details = m_cardWidget->DetailsWidget()) {
        int widestRow = 0;
        for (IoPointWidget* row : details->PointRows())
            widestRow = std::max(widestRow, row->WidthWithLimits());
        const QMargins margins = details->layout()->contentsMargins();
        rowsWidth = std::max(details->minimumSizeHint().width(),
                             widestRow + margins.left() + margins.right());
    }
    const int bar =
        area->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, area->verticalScrollBar());
    area->setMinimumWidth(rowsWidth + 2 * area->frameWidth() + bar);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const QSize wanted(minimumSizeHint().width(), firstCardFaceHeight);
    area->setMinimumWidth(0);

    // Within the screen, title bar and frame included.
    const QRect screenRect = screen()->availableGeometry();
    const QSize frame = frameGeometry().size() - size();
    return wanted.boundedTo(screenRect.size() - frame);
}

void TolvarenDiagnostics::DeleteFace()
{
    delete takeCentralWidget();
    // The style keeps the pixmaps it draws buttons with in the application's pixmap cache, keyed
    // by the button's palette. The face's rows and blocks have palettes of their own, so every
    // button of a face has a palette no later face shares: the entries of the face just deleted
    // are never looked up again, yet the cache keeps them up to its limit of several megabytes.
    // After each reset or rebuild (one per line fault) the cache would only grow until then.
    QPixmapCache::clear();
}

void TolvarenDiagnostics::PlaceWindow()
{
    const QRect desktop = QApplication::desktop()->geometry();
    const int x = m_savedPos.x();
    const int y = m_savedPos.y();
    if (m_savedPos != QPoint(0, 0) && desktop.x() <= x && x < desktop.x() + desktop.width() - 10 &&
        desktop.y() <= y && y < desktop.y() + desktop.height() - 10) {
        move(m_savedPos);
    } else {
        CentreWindow();
    }
    m_placed = true;
    m_placedPos = pos();
}

void TolvarenDiagnostics::CentreWindow()
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    move(qRound((screen.width() - width()) / 2.0), qRound((screen.height() - height()) / 2.0));
}

int TolvarenDiagnostics::ConfiguredCommPort() const
{
    return m_comms->GetConfiguredCommPort();
}

void TolvarenDiagnostics::RefreshEverything()
{
    if (!m_cardWidget)
        return;
    // A second refresh before the first has finished keeps the one busy cursor.
    if (!m_busyCursorShown) {
        QApplication::setOverrideCursor(Qt::BusyCursor);
        m_busyCursorShown = true;
    }
    m_cardWidget->setEnabled(false);
    m_gatherer.reset();
    m_pollTimer->start(0);
}

void TolvarenDiagnostics::RestoreBusyCursor()
{
    if (m_busyCursorShown) {
        QApplication::restoreOverrideCursor();
        m_busyCursorShown = false;
    }
}

void TolvarenDiagnostics::on_simulateInputCardButton_clicked()
{
    m_gatherer.reset();
    m_comms->UseCommsInterface(boost::make_shared<DEDOCardSimulator>());
    m_pollTimer->start(0);
}

namespace {

const char* const csvFilter = "CSV Files (*.csv);;All Files (*)";

QString DocumentsFolder()
{
    return DocumentsFolderOrHome();
}

std::string LocalFileName(const QString& fileName)
{
    return QFile::encodeName(fileName).toStdString();
}

} // namespace

void TolvarenDiagnostics::ExportToCsv()
{
    if (!m_cardWidget || !m_gatherer)
        return;
    // The export needs everything a full gathering reads. While a gathering runs, its worker
    // writes the snapshot, which therefore cannot be judged or read now either.
    if (m_gatheringPending || !m_gatherer->Snapshot().fullGathering) {
        m_exportPending = true;
        RefreshEverything();
        return;
    }
    // Polling goes on while the file dialog is open and rewrites the gatherer's snapshot: the
    // export writes what the card face was built from.
    const TolvarenSnapshot snapshot = m_gatherer->Snapshot();

    const QString fileName = QFileDialog::getSaveFileName(
        this, QStringLiteral("Enter filename to write CSV file"), DocumentsFolder(),
        QString::fromLatin1(csvFilter), nullptr, QFileDialog::ReadOnly);
    if (fileName.isEmpty())
        return;
    try {
        WriteCardConfigCsv(snapshot, LocalFileName(fileName));
        QMessageBox::information(this, QString(),
                                 QStringLiteral("Sucessfully created ") + fileName);
    } catch (const std::exception& e) {
        QMessageBox::warning(this, QString(),
                             QStringLiteral("Failed to export card configuration: ") +
                                 QString::fromUtf8(e.what()));
    }
}

void TolvarenDiagnostics::ImportFromCsv()
{
    if (!m_cardWidget)
        return;
    const int cardType = m_cardWidget->CardType();
    const QString fileName =
        QFileDialog::getOpenFileName(this, QStringLiteral("Choose CSV filename to import"),
                                     DocumentsFolder(), QString::fromLatin1(csvFilter));
    if (fileName.isEmpty())
        return;

    std::vector<PointImportRecord> points;
    try {
        points = ReadPointsCsv(LocalFileName(fileName), cardType);
    } catch (const std::exception& e) {
        QMessageBox::warning(this, QString(),
                             QStringLiteral("Failed to read points from file: ") +
                                 QString::fromUtf8(e.what()));
        return;
    }

    ConfigImportDialog confirm(points, this);
    if (confirm.exec() != QDialog::Accepted)
        return;

    try {
        {
            WaitCursor wait;
            WritePointsToCard(points, *m_datalink);
        }
        QMessageBox::information(this, QString(),
                                 QStringLiteral("Sucessfully imported ") + fileName +
                                     QStringLiteral("\n\nAll data will now be refreshed."));
    } catch (const std::exception& e) {
        QMessageBox::warning(this, QString(),
                             QStringLiteral("Failed to import points fields: ") +
                                 QString::fromUtf8(e.what()));
    }
    RefreshEverything();
}
