#pragma once

#include <memory>

#include <QWidget>

#include <boost/shared_ptr.hpp>

#include "comms/AutoReconnectSerialComms.h"

namespace Ui {
class SerialPortOptionsWidget;
}

// Automatic or manual choice of the card's COM port, with the AutoReconnectSerialComms it
// steers (shared with the main window, which attaches the Modbus master to it).
// GUI thread only.
class SerialPortOptionsWidget : public QWidget
{
    Q_OBJECT

public:
    // Uses existing comms; null throws ExceptionWithString "comms == NULL".
    SerialPortOptionsWidget(boost::shared_ptr<AutoReconnectSerialComms> comms,
                            QWidget* parent = nullptr);
    // Creates comms on port (0: automatic) at 115200 baud, no parity, one stop bit.
    SerialPortOptionsWidget(IAutoReconnectSerialCommsFeedback* feedback, int port,
                            QWidget* parent = nullptr);
    ~SerialPortOptionsWidget() override;

    boost::shared_ptr<AutoReconnectSerialComms> GetComms() const { return m_comms; }

private slots:
    void on_autoSelectRadio_toggled(bool wantAuto);
    void on_choosePortButton_clicked();

private:
    void SetUpForm();
    void SetAutomaticChecked(bool automatic);

    std::unique_ptr<Ui::SerialPortOptionsWidget> m_ui;
    bool m_updating = false;
    boost::shared_ptr<AutoReconnectSerialComms> m_comms;
};
