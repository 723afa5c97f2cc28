#pragma once

#include <memory>

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimer;

// "Add network port": the kind (raw TCP or RFC 2217), host and TCP port of a serial device
// server. Ok connects to it as the card link would (opening the Telnet session and setting the
// line for RFC 2217) on a thread of its own; only a server that answers is kept, as the next free
// COM400-COM499 number. GUI thread only.
class NetworkPortDialog : public QDialog
{
    Q_OBJECT

public:
    explicit NetworkPortDialog(QWidget* parent = nullptr);
    ~NetworkPortDialog() override;

    // The number the port was kept as, once accepted; 0 before.
    int GetAddedPort() const { return m_addedPort; }
    // "tcp://HOST:PORT" or "rfc2217://HOST:PORT" from the fields.
    QString Url() const;

private slots:
    void on_checkButton_clicked();
    void CollectCheck();

private:
    struct Check; // shared with the checking thread

    void SetChecking(bool checking);

    QComboBox* m_kind;
    QLineEdit* m_host;
    QSpinBox* m_port;
    QLabel* m_status;
    QPushButton* m_checkButton;
    QTimer* m_poll;
    std::shared_ptr<Check> m_check;
    int m_addedPort = 0;
};
