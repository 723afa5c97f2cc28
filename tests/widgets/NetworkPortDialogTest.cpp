#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "comms/NetworkPortRegistry.h"
#include "tests/support/FakeSysfs.h"
#include "tests/support/NetworkSerialServer.h"
#include "widgets/NetworkPortDialog.h"
#include "widgets/SerialPortChooserDialog.h"

namespace {

bool RunUntil(const std::function<bool()>& done)
{
    const QDeadlineTimer deadline(10000);
    while (!done() && !deadline.hasExpired())
        QTest::qWait(10);
    return done();
}

// A raw TCP server: connections are taken by the kernel, which is all the raw check needs.
class Listener
{
public:
    Listener() : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(m_fd, 4) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot listen");
        m_port = ntohs(address.sin_port);
    }
    ~Listener() { ::close(m_fd); }
    int Port() const { return m_port; }

private:
    int m_fd;
    int m_port = 0;
};

// Adding a network port in the chooser: a server that does not answer is not kept and says
// why; one that answers is listed with its URL and selected, and can be removed again.
TEST(NetworkPortDialogTest, APortIsKeptOnlyOnceItsServerAnswersAndCanBeRemoved)
{
    FakeSysfs sysfs; // the chooser lists the network ports only
    Listener server;
    const int refusing = NetworkSerialServer::FreeTcpPort();
    SerialPortChooserDialog chooser(0);
    chooser.show();
    auto* list = chooser.findChild<QListWidget*>(QStringLiteral("portsListWidget"));
    auto* remove = chooser.findChild<QPushButton*>(QStringLiteral("removeNetworkPortButton"));

    QTest::mouseClick(chooser.findChild<QPushButton*>(QStringLiteral("addNetworkPortButton")),
                      Qt::LeftButton);
    auto* add = chooser.findChild<NetworkPortDialog*>();
    ASSERT_NE(add, nullptr);
    add->findChild<QComboBox*>(QStringLiteral("kindCombo"))->setCurrentIndex(1); // raw TCP
    add->findChild<QLineEdit*>(QStringLiteral("hostEdit"))->setText(QStringLiteral("127.0.0.1"));
    auto* port = add->findChild<QSpinBox*>(QStringLiteral("portSpin"));
    auto* check = add->findChild<QPushButton*>(QStringLiteral("checkButton"));
    auto* status = add->findChild<QLabel*>(QStringLiteral("statusLabel"));

    port->setValue(refusing);
    QTest::mouseClick(check, Qt::LeftButton);
    const QString refused =
        QStringLiteral("Cannot connect to 127.0.0.1:%1: connection refused").arg(refusing);
    EXPECT_TRUE(RunUntil([&] { return status->text() == refused; }))
        << status->text().toStdString();
    EXPECT_TRUE(add->isVisible());
    EXPECT_TRUE(check->isEnabled());

    port->setValue(server.Port());
    QTest::mouseClick(check, Qt::LeftButton);
    ASSERT_TRUE(RunUntil([&] { return chooser.findChild<NetworkPortDialog*>() == nullptr; }));
    const QString url = QStringLiteral("tcp://127.0.0.1:%1").arg(server.Port());
    const QList<QListWidgetItem*> selected = list->selectedItems();
    ASSERT_EQ(selected.size(), 1);
    const int number = selected.front()->data(Qt::UserRole).toInt();
    EXPECT_TRUE(NetworkPortRegistry::IsNetworkNumber(number));
    EXPECT_EQ(selected.front()->text(), QStringLiteral("COM%1 - %2").arg(number).arg(url));
    EXPECT_EQ(NetworkPortRegistry::UrlOf(number), url.toStdString());
    for (const auto& kept : NetworkPortRegistry::List())
        EXPECT_FALSE(kept.first != number && kept.second == url.toStdString());

    ASSERT_TRUE(remove->isEnabled());
    QTest::mouseClick(remove, Qt::LeftButton);
    EXPECT_EQ(NetworkPortRegistry::UrlOf(number), "");
    EXPECT_TRUE(list->findItems(url, Qt::MatchContains).isEmpty());
}

} // namespace
