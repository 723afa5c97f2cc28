// The main window's keyboard handling and the factory service functions it opens.
#include "mainwindow/TolvarenDiagnostics.h"

#include <atomic>
#include <exception>
#include <thread>

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QThread>

#include "calibration/ui/CalibrationLaunchDialog.h"
#include "comms/AutoReconnectSerialComms.h"
#include "mainwindow/ServiceKeyRing.h"
#include "modbus/ModbusMaster.h"
#include "modbus/ModbusMasterDatalink.h"
#include "protocol/TolvarenCommsCommon.h"
#include "widgets/NamedVarDialog.h"
#include "widgets/ProgressDialog.h"

namespace {

const std::uint32_t eeFirstAddress = 2;
const std::uint32_t eeWriteLength = 128;

ByteVec EeWipePayload(std::uint32_t address)
{
    ByteVec payload{static_cast<unsigned char>(address >> 24),
                    static_cast<unsigned char>(address >> 16),
                    static_cast<unsigned char>(address >> 8), static_cast<unsigned char>(address)};
    payload.insert(payload.end(), eeWriteLength, 0xFF);
    return payload;
}

} // namespace

void TolvarenDiagnostics::keyPressEvent(QKeyEvent* event)
{
    if (event->type() != QEvent::KeyPress) {
        event->ignore();
        return;
    }
    if (event->key() == Qt::Key_F5) {
        RefreshEverything();
        return;
    }
    if (event->key() == Qt::Key_F12 && event->modifiers() == Qt::ControlModifier) {
        if (!m_cardWidget)
            on_simulateInputCardButton_clicked();
        return;
    }
    if (event->modifiers() != Qt::NoModifier) {
        QMainWindow::keyPressEvent(event);
        return;
    }
    RunService(ServiceKeyRing::Shared().Add(event->key()));
}

void TolvarenDiagnostics::RunService(int service)
{
    switch (service) {
    case ServiceKeyRing::CalibrationEntry:
        RunCalibrationEntry();
        break;
    case ServiceKeyRing::BuildDate:
        ShowCardBuildDate();
        break;
    case ServiceKeyRing::NamedVariables:
        ShowNamedVariables();
        break;
    case ServiceKeyRing::EepromWipe:
        WipeEeprom();
        break;
    default:
        break;
    }
}

void TolvarenDiagnostics::RunCalibrationEntry()
{
    if (m_comms->GetConfiguredCommPort() == 0) {
        QMessageBox::information(this, QString(),
                                 QStringLiteral("The main COM port must be manually set to the "
                                                "specific port where the Input Card will be "
                                                "attached."));
        return;
    }
    // One calibration window at a time: an open one is brought back.
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("CalibrationWidget")) {
            widget->showNormal();
            widget->raise();
            return;
        }
    }
    // The Output Card's window belongs to this one (a separate top-level window), so it lives as
    // long as the Input Card's window that the calibration window also refers to.
    auto makeOutputWindow = [this]() -> ICardWindow* {
        return new TolvarenDiagnostics(QStringLiteral("OutputWindow"), this, Qt::Window);
    };
    if (RunCalibrationLaunch(*this, makeOutputWindow))
        hide();
}

// A card that does not answer is reported here, not as an unexpected error that ends the
// program.
void TolvarenDiagnostics::ShowCardBuildDate()
{
    std::string date;
    try {
        TolvarenCommsCommon comms(*m_datalink);
        date = comms.GetSoftwareBuildDate().get();
    } catch (const std::exception& e) {
        QMessageBox::warning(nullptr, QString(),
                             QStringLiteral("Failed to read card software build date: ") +
                                 QString::fromUtf8(e.what()));
        return;
    }
    QMessageBox::information(nullptr, QString(),
                             QStringLiteral("Card software build date: ") +
                                 QString::fromUtf8(date.c_str()));
}

void TolvarenDiagnostics::ShowNamedVariables()
{
    NamedVarDialog dialog(*m_datalink, nullptr);
    dialog.exec();
}

// Writes go to 2 (the first two bytes are left alone), then 128, 256, ... The card refusing an
// address past its EEPROM ends the wipe, normally; the bound ends it for a card that never does,
// and Cancel after the write in flight. The writes run on a worker thread, so the window goes on
// drawing and the progress dialog shows how far the wipe has got.
void TolvarenDiagnostics::WipeEeprom()
{
    if (QMessageBox::question(
            nullptr, QString(), QStringLiteral("Wipe entire EE now, including calibration data?"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return;

    ModbusMaster master(*m_datalink);
    ProgressDialog progress(this);
    progress.SetTotalUnknown();
    progress.SetText(QStringLiteral("Clearing EE..."));
    std::atomic<bool> cancelled(false);
    progress.SetCancelHandler([&] {
        cancelled = true;
        progress.SetCancelHandler(boost::function<void()>()); // one cancel is enough
    });

    // Written by the worker, read once it has been joined.
    std::uint32_t address = eeFirstAddress;
    QString ending;
    std::thread worker([&] {
        for (;;) {
            if (cancelled) {
                ending = QStringLiteral("Cancelled");
                break;
            }
            if (address >= eeWipeAddressBound) {
                ending = QStringLiteral("the card accepted every write below address %1")
                             .arg(eeWipeAddressBound);
                break;
            }
            try {
                master.SendQelCommand(TolvarenCommsCommon::QEL_EE_WRITE, EeWipePayload(address))
                    .get();
            } catch (const std::exception& e) {
                ending = QString::fromUtf8(e.what());
                break;
            }
            address = address == eeFirstAddress ? eeWriteLength : address + eeWriteLength;
            progress.SetText(QStringLiteral("Cleared EE up to address %1...").arg(address));
        }
        QMetaObject::invokeMethod(&progress, "accept", Qt::QueuedConnection);
    });
    // Polls would read the card between the writes and slow them down.
    m_pollingPaused = true;
    progress.exec();
    // Closed some other way than by the worker (Escape): that is a cancel too.
    cancelled = true;
    worker.join();
    m_pollingPaused = false;

    QMessageBox::information(nullptr, QString(),
                             QStringLiteral("Cleared EE from address 0 up to (but not including) "
                                            "address %1. Ended with error: %2")
                                 .arg(address)
                                 .arg(ending));

    // A card restarts without answering.
    master.SendQelCommand(TolvarenCommsCommon::QEL_RESTART);
    QThread::msleep(50);
    RefreshEverything();
}
