#include "widgets/NetworkPortDialog.h"

#include <mutex>
#include <string>
#include <thread>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include "comms/NetworkPortAddress.h"
#include "comms/NetworkPortRegistry.h"
#include "comms/SerialCommsThread.h"

// One connection attempt. The thread owns a reference, so a dialog closed meanwhile leaves it
// to finish on its own (bounded by the connection time-outs) and touches nothing of the dialog.
struct NetworkPortDialog::Check
{
    std::mutex mutex;
    bool done = false;
    std::string error; // empty: the server answered
};

NetworkPortDialog::NetworkPortDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Add network port"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    m_kind = new QComboBox(this);
    m_kind->setObjectName(QStringLiteral("kindCombo"));
    m_kind->addItem(QStringLiteral("RFC 2217 (real COM port)"), QStringLiteral("rfc2217"));
    m_kind->addItem(QStringLiteral("Raw TCP (TCP server)"), QStringLiteral("tcp"));
    form->addRow(QStringLiteral("Kind:"), m_kind);
    m_host = new QLineEdit(this);
    m_host->setObjectName(QStringLiteral("hostEdit"));
    m_host->setPlaceholderText(QStringLiteral("device server's name or address"));
    form->addRow(QStringLiteral("Host:"), m_host);
    m_port = new QSpinBox(this);
    m_port->setObjectName(QStringLiteral("portSpin"));
    m_port->setRange(1, 65535);
    m_port->setValue(4001);
    form->addRow(QStringLiteral("TCP port:"), m_port);
    layout->addLayout(form);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusLabel"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_status);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    m_checkButton =
        buttons->addButton(QStringLiteral("Check and add"), QDialogButtonBox::AcceptRole);
    m_checkButton->setObjectName(QStringLiteral("checkButton"));
    m_checkButton->setDefault(true);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    m_poll = new QTimer(this);
    m_poll->setInterval(50);
    connect(m_poll, &QTimer::timeout, this, &NetworkPortDialog::CollectCheck);
    QMetaObject::connectSlotsByName(this);
}

NetworkPortDialog::~NetworkPortDialog() = default;

QString NetworkPortDialog::Url() const
{
    NetworkPortAddress address;
    address.kind = m_kind->currentData().toString() == QLatin1String("tcp")
                       ? NetworkPortAddress::RawTcp
                       : NetworkPortAddress::Rfc2217;
    address.host = m_host->text().trimmed().toStdString();
    // An IPv6 address typed with its brackets is the same address.
    if (address.host.size() > 2 && address.host.front() == '[' && address.host.back() == ']')
        address.host = address.host.substr(1, address.host.size() - 2);
    address.port = m_port->value();
    return QString::fromStdString(address.Url());
}

void NetworkPortDialog::on_checkButton_clicked()
{
    if (m_check)
        return;
    const std::string url = Url().toStdString();
    try {
        NetworkPortAddress::Parse(url);
    } catch (const std::exception& e) {
        m_status->setText(QString::fromStdString(e.what()));
        return;
    }
    m_status->setText(QStringLiteral("Connecting to %1...").arg(QString::fromStdString(url)));
    SetChecking(true);
    m_check = std::make_shared<Check>();
    std::thread([check = m_check, url] {
        std::string error;
        try {
            SerialPortSettings settings; // the card link's: 115200 baud 8N1
            SerialCommsThread::OpenNetworkPort(url, settings);
        } catch (const std::exception& e) {
            error = e.what();
        }
        std::lock_guard<std::mutex> lock(check->mutex);
        check->error = error;
        check->done = true;
    }).detach();
    m_poll->start();
}

void NetworkPortDialog::CollectCheck()
{
    std::string error;
    {
        std::lock_guard<std::mutex> lock(m_check->mutex);
        if (!m_check->done)
            return;
        error = m_check->error;
    }
    m_poll->stop();
    m_check.reset();
    SetChecking(false);
    if (error.empty()) {
        try {
            m_addedPort = NetworkPortRegistry::Add(Url().toStdString());
        } catch (const std::exception& e) {
            error = e.what();
        }
    }
    if (!error.empty()) {
        m_status->setText(QString::fromStdString(error));
        return;
    }
    accept();
}

void NetworkPortDialog::SetChecking(bool checking)
{
    m_kind->setEnabled(!checking);
    m_host->setEnabled(!checking);
    m_port->setEnabled(!checking);
    m_checkButton->setEnabled(!checking);
}
