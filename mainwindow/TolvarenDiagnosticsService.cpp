// The main window's keyboard handling and the factory service functions it opens.
#include "mainwindow/TolvarenDiagnostics.h"

#include <exception>

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
#include "widgets/WaitCursor.h"

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
// address past its EEPROM ends the wipe, normally; the bound ends it for a card that never does.
void TolvarenDiagnostics::WipeEeprom()
{
    if (QMessageBox::question(nullptr, QString(),
                              QStringLiteral("Wipe entire EE now, including calibration data?"),
                              QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;

    ModbusMaster master(*m_datalink);
    std::uint32_t address = eeFirstAddress;
    QString ending;
    {
        WaitCursor busy;
        for (;;) {
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
        }
    }
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
