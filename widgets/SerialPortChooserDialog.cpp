#include "widgets/SerialPortChooserDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "comms/AutoReconnectSerialComms.h"
#include "comms/NetworkPortRegistry.h"
#include "widgets/NetworkPortDialog.h"

SerialPortChooserDialog::SerialPortChooserDialog(int currentPort, QWidget* parent)
    : QDialog(parent)
{
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    setWindowTitle(QStringLiteral("Serial Ports"));

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(6);
    layout->setContentsMargins(11, 11, 11, 11);
    layout->addWidget(new QLabel(QStringLiteral("Choose a serial port:"), this));
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("portsListWidget"));
    layout->addWidget(m_list);
    auto* networkRow = new QHBoxLayout;
    auto* addButton = new QPushButton(QStringLiteral("Add network port..."), this);
    addButton->setObjectName(QStringLiteral("addNetworkPortButton"));
    addButton->setAutoDefault(false);
    networkRow->addWidget(addButton);
    m_removeButton = new QPushButton(QStringLiteral("Remove network port"), this);
    m_removeButton->setObjectName(QStringLiteral("removeNetworkPortButton"));
    m_removeButton->setAutoDefault(false);
    networkRow->addWidget(m_removeButton);
    networkRow->addStretch();
    layout->addLayout(networkRow);
    m_okButton = new QPushButton(QStringLiteral("Ok"), this);
    m_okButton->setObjectName(QStringLiteral("okButton"));
    m_okButton->setFixedSize(75, 23);
    m_okButton->setDefault(true);
    layout->addWidget(m_okButton);
    QMetaObject::connectSlotsByName(this);
    connect(m_list, &QListWidget::itemSelectionChanged, this,
            &SerialPortChooserDialog::UpdateRemoveButton);

    PopulatePortsListWidget(currentPort);

    m_timer = new QTimer(this);
    m_timer->setInterval(300);
    connect(m_timer, &QTimer::timeout, this,
            static_cast<void (SerialPortChooserDialog::*)()>(
                &SerialPortChooserDialog::PopulatePortsListWidget));
    m_timer->start();
}

void SerialPortChooserDialog::PopulatePortsListWidget()
{
    int selected = 0;
    const QList<QListWidgetItem*> items = m_list->selectedItems();
    if (items.size() == 1)
        selected = items.front()->data(Qt::UserRole).toInt();
    PopulatePortsListWidget(selected);
}

void SerialPortChooserDialog::PopulatePortsListWidget(int portToSelect)
{
    if (portToSelect < 0)
        portToSelect = 0;
    m_list->clear();
    std::vector<SerialPortInfo> ports;
    QString problem;
    try {
        AutoReconnectSerialComms::EnumerateSerialPorts(ports, false);
    } catch (const std::exception& e) {
        ports.clear();
        problem = QString::fromStdString(e.what());
    }
    if (ports.empty()) {
        m_list->addItem(problem.isEmpty() ? QStringLiteral("No ports found") : problem);
        m_list->setEnabled(false);
        m_okButton->setEnabled(false);
        m_removeButton->setEnabled(false);
        return;
    }
    for (const SerialPortInfo& port : ports) {
        auto* item = new QListWidgetItem(QString::fromStdString(port.friendlyName), m_list);
        item->setData(Qt::UserRole, port.portNumber);
        if (port.portNumber == portToSelect)
            item->setSelected(true);
    }
    if (portToSelect == 0)
        m_list->item(0)->setSelected(true);
    for (int i = 0; i < m_list->count(); ++i) {
        if (m_list->item(i)->isSelected())
            m_list->setCurrentItem(m_list->item(i));
    }
    m_list->setEnabled(true);
    m_okButton->setEnabled(true);
    UpdateRemoveButton();
}

void SerialPortChooserDialog::on_addNetworkPortButton_clicked()
{
    auto* dialog = new NetworkPortDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this,
            [this, dialog] { PopulatePortsListWidget(dialog->GetAddedPort()); });
    dialog->open();
}

void SerialPortChooserDialog::on_removeNetworkPortButton_clicked()
{
    const int port = SelectedPort();
    if (!NetworkPortRegistry::IsNetworkNumber(port))
        return;
    NetworkPortRegistry::Remove(port);
    PopulatePortsListWidget(0);
}

int SerialPortChooserDialog::SelectedPort() const
{
    const QList<QListWidgetItem*> items = m_list->selectedItems();
    return items.size() == 1 ? items.front()->data(Qt::UserRole).toInt() : 0;
}

void SerialPortChooserDialog::UpdateRemoveButton()
{
    m_removeButton->setEnabled(NetworkPortRegistry::IsNetworkNumber(SelectedPort()));
}

void SerialPortChooserDialog::on_okButton_pressed()
{
    const QList<QListWidgetItem*> items = m_list->selectedItems();
    if (items.size() != 1)
        return;
    m_chosenPort = items.front()->data(Qt::UserRole).toInt();
    accept();
}
