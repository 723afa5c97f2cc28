#include "calibration/ui/CalibrationLaunchDialog.h"

#include <exception>

#include <QMessageBox>
#include <QSettings>

#include "calibration/CalibBoardCommands.h"
#include "calibration/CalibBoardLink.h"
#include "calibration/CalibSettingsKeys.h"
#include "calibration/ui/CalibrationWidget.h"
#include "calibration/ui/ICardWindow.h"
#include "ui_CalibrationLaunchDialog.h"
#include "widgets/SerialPortChooserDialog.h"
#include "widgets/WaitCursor.h"

namespace {

// The port number in the field; false when it is not a number of a port (COM0 does not exist).
bool PortFromText(const QString& text, unsigned& port)
{
    bool ok = false;
    port = text.trimmed().toUInt(&ok, 10);
    return ok && port > 0;
}

} // namespace

CalibrationLaunchDialog::CalibrationLaunchDialog(ICardWindow& mainWindow,
                                                 std::function<ICardWindow*()> makeOutputWindow,
                                                 QWidget* parent)
    : QDialog(parent), m_ui(new Ui::CalibrationLaunchDialog), m_mainWindow(mainWindow),
      m_makeOutputWindow(std::move(makeOutputWindow))
{
    m_ui->setupUi(this);
    QSettings settings;
    m_ui->calibBoardPortNum->setText(QString::number(
        CalibSettingsKeys::Read(settings, CalibSettingsKeys::CalibBoardPortNum).toUInt()));
    if (CalibSettingsKeys::Read(settings, CalibSettingsKeys::LastCalibWasOutputCard).toBool())
        m_ui->calibOutputCardRadio->setChecked(true);
}

CalibrationLaunchDialog::~CalibrationLaunchDialog() = default;

void CalibrationLaunchDialog::on_calibInputCardRadio_toggled(bool val)
{
    m_ui->inputCardInfoLabel->setEnabled(val);
    m_ui->calibBoardPortNum->setEnabled(val);
    m_ui->testCalibCommsButton->setEnabled(val);
    m_ui->outputCardInfoLabel->setEnabled(!val);
}

void CalibrationLaunchDialog::on_browseForPortButton_pressed()
{
    unsigned current = 0;
    PortFromText(m_ui->calibBoardPortNum->text(), current);
    SerialPortChooserDialog chooser(static_cast<int>(current), this);
    if (chooser.exec() != QDialog::Accepted || chooser.GetChosenPort() <= 0)
        return;
    m_ui->calibBoardPortNum->setText(QString::number(chooser.GetChosenPort()));
    on_testCalibCommsButton_pressed();
}

void CalibrationLaunchDialog::on_testCalibCommsButton_pressed()
{
    const unsigned port = m_ui->calibBoardPortNum->text().trimmed().toUInt(nullptr, 10);
    QString message;
    try {
        WaitCursor busy; // gone before the box below
        CalibBoardLink link(static_cast<int>(port));
        const ByteVec reply = link.RawTransact(ByteVec{CalibBoardCommands::Ping});
        if (reply.size() < 2)
            throw CalibBoardLink::Error("reply too short");
        if (reply[0] != CalibBoardCommands::Ping)
            throw CalibBoardLink::Error("reply does not correspond to requested command");
        if (reply[1] != CalibBoardCommands::Ack)
            throw CalibBoardLink::Error("reply to command was not an ACK");
        message = QStringLiteral("Comms with calibration card working");
    } catch (const std::exception& e) {
        message = QString::fromStdString(e.what());
    }
    QMessageBox::information(nullptr, QString(), message);
}

void CalibrationLaunchDialog::on_nextButton_pressed()
{
    const bool outputCard = m_ui->calibOutputCardRadio->isChecked();
    QSettings settings;
    settings.setValue(CalibSettingsKeys::LastCalibWasOutputCard, outputCard);

    CalibrationWidget* window = nullptr;
    if (!outputCard) {
        unsigned port = 0;
        if (!PortFromText(m_ui->calibBoardPortNum->text(), port)) {
            QMessageBox::warning(this, QString(), QStringLiteral("Invalid port number"));
            return;
        }
        settings.setValue(CalibSettingsKeys::CalibBoardPortNum, port);
        window = new CalibrationWidget(m_mainWindow, nullptr, static_cast<int>(port));
    } else {
        ICardWindow* outputWindow = m_makeOutputWindow ? m_makeOutputWindow() : nullptr;
        if (!outputWindow) {
            QMessageBox::warning(this, QString(),
                                 QStringLiteral("Could not open the Output Card window"));
            return;
        }
        outputWindow->CardWindowWidget()->show();
        window = new CalibrationWidget(m_mainWindow, outputWindow, 0);
    }
    m_openedWindow = window;
    window->show();
    accept();
}

bool RunCalibrationLaunch(ICardWindow& mainWindow, std::function<ICardWindow*()> makeOutputWindow)
{
    CalibrationLaunchDialog dialog(mainWindow, std::move(makeOutputWindow),
                                   mainWindow.CardWindowWidget());
    return dialog.exec() == QDialog::Accepted;
}
