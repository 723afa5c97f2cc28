#include "widgets/SerialPortOptionsWidget.h"

#include <boost/throw_exception.hpp>

#include "ui_SerialPortOptionsWidget.h"
#include "widgets/SerialPortChooserDialog.h"

SerialPortOptionsWidget::SerialPortOptionsWidget(boost::shared_ptr<AutoReconnectSerialComms> comms,
                                                 QWidget* parent)
    : QWidget(parent), m_ui(new Ui::SerialPortOptionsWidget), m_comms(comms)
{
    if (!m_comms)
        boost::throw_exception(ExceptionWithString("comms == NULL"));
    SetUpForm();
}

SerialPortOptionsWidget::SerialPortOptionsWidget(IAutoReconnectSerialCommsFeedback* feedback,
                                                 int port, QWidget* parent)
    : QWidget(parent), m_ui(new Ui::SerialPortOptionsWidget)
{
    SerialPortSettings settings;
    settings.port = port;
    settings.baudRate = 115200;
    settings.parity = 0;
    settings.stopBits = 1;
    m_comms.reset(new AutoReconnectSerialComms(feedback, settings));
    if (!m_comms)
        boost::throw_exception(ExceptionWithString("m_comms == NULL"));
    SetUpForm();
}

SerialPortOptionsWidget::~SerialPortOptionsWidget() = default;

void SerialPortOptionsWidget::SetUpForm()
{
    m_ui->setupUi(this);
    SetAutomaticChecked(m_comms->GetConfiguredCommPort() == 0);
}

void SerialPortOptionsWidget::SetAutomaticChecked(bool automatic)
{
    m_updating = true;
    if (automatic)
        m_ui->autoSelectRadio->setChecked(true);
    else
        m_ui->manualSelectRadio->setChecked(true);
    m_ui->choosePortButton->setEnabled(!automatic);
    m_updating = false;
}

void SerialPortOptionsWidget::on_autoSelectRadio_toggled(bool wantAuto)
{
    m_ui->choosePortButton->setEnabled(!wantAuto);
    if (m_updating)
        return;
    if (wantAuto)
        m_comms->SetCommPort(0);
    else
        on_choosePortButton_clicked();
}

void SerialPortOptionsWidget::on_choosePortButton_clicked()
{
    SerialPortChooserDialog dialog(m_comms->GetConfiguredCommPort(), this);
    if (dialog.exec() == QDialog::Accepted && dialog.GetChosenPort() != 0)
        m_comms->SetCommPort(dialog.GetChosenPort());
    else if (m_comms->GetConfiguredCommPort() == 0)
        SetAutomaticChecked(true);
}
