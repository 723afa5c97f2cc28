#include "comms/NetworkPortRegistry.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include <QSettings>
#include <QString>
#include <QStringList>

#include <boost/throw_exception.hpp>

#include "comms/ExceptionWithString.h"
#include "comms/NetworkPortAddress.h"

namespace {

std::mutex storeMutex;

std::unique_ptr<QSettings> OpenStore()
{
    std::unique_ptr<QSettings> settings(new QSettings(QSettings::NativeFormat, QSettings::UserScope,
                                                      QStringLiteral("QEL"),
                                                      QStringLiteral("TolvarenDiagnostics")));
    settings->beginGroup(QStringLiteral("NetworkSerialPorts"));
    return settings;
}

QString KeyOf(int number)
{
    return QStringLiteral("COM%1").arg(number);
}

// The number a key names, 0 for a key that is not one of ours.
int NumberOfKey(const QString& key)
{
    if (!key.startsWith(QLatin1String("COM")))
        return 0;
    bool ok = false;
    const int n = key.mid(3).toInt(&ok);
    return ok && NetworkPortRegistry::IsNetworkNumber(n) ? n : 0;
}

} // namespace

int NetworkPortRegistry::Add(const std::string& url)
{
    const std::string canonical = NetworkPortAddress::Parse(url).Url();
    std::lock_guard<std::mutex> lock(storeMutex);
    std::unique_ptr<QSettings> store = OpenStore();
    bool used[lastNumber - firstNumber + 1] = {};
    for (const QString& key : store->childKeys()) {
        const int n = NumberOfKey(key);
        if (n == 0)
            continue;
        if (store->value(key).toString().toStdString() == canonical)
            return n;
        used[n - firstNumber] = true;
    }
    for (int n = firstNumber; n <= lastNumber; ++n) {
        if (!used[n - firstNumber]) {
            store->setValue(KeyOf(n), QString::fromStdString(canonical));
            store->sync();
            if (store->status() != QSettings::NoError)
                boost::throw_exception(
                    ExceptionWithString("The network port could not be kept in the settings"));
            return n;
        }
    }
    boost::throw_exception(
        ExceptionWithString("All network port numbers (COM400 to COM499) are taken"));
}

void NetworkPortRegistry::Remove(int number)
{
    std::lock_guard<std::mutex> lock(storeMutex);
    std::unique_ptr<QSettings> store = OpenStore();
    store->remove(KeyOf(number));
    store->sync();
}

std::string NetworkPortRegistry::UrlOf(int number)
{
    if (!IsNetworkNumber(number))
        return std::string();
    std::lock_guard<std::mutex> lock(storeMutex);
    return OpenStore()->value(KeyOf(number)).toString().toStdString();
}

std::vector<std::pair<int, std::string>> NetworkPortRegistry::List()
{
    std::vector<std::pair<int, std::string>> ports;
    std::lock_guard<std::mutex> lock(storeMutex);
    std::unique_ptr<QSettings> store = OpenStore();
    for (const QString& key : store->childKeys()) {
        if (const int n = NumberOfKey(key))
            ports.emplace_back(n, store->value(key).toString().toStdString());
    }
    std::sort(ports.begin(), ports.end());
    return ports;
}
