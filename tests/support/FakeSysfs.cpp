#include "tests/support/FakeSysfs.h"

#include <cstdlib>
#include <stdexcept>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <unistd.h>

namespace {

void MakeLink(const QString& target, const QString& link)
{
    QFile::remove(link);
    if (::symlink(target.toLocal8Bit().constData(), link.toLocal8Bit().constData()) != 0)
        throw std::runtime_error("symlink failed: " + link.toStdString());
}

void WriteFile(const QString& path, const QString& text)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write " + path.toStdString());
    f.write(text.toUtf8() + "\n");
}

} // namespace

FakeSysfs::FakeSysfs() : m_root(new QTemporaryDir)
{
    QDir root(m_root->path());
    root.mkpath(QStringLiteral("sys/class/tty"));
    root.mkpath(QStringLiteral("dev/serial/by-id"));
    root.mkpath(QStringLiteral("sys/bus/usb-serial/drivers/ftdi_sio"));
    root.mkpath(QStringLiteral("sys/bus/platform/drivers/serial8250"));
    root.mkpath(QStringLiteral("config"));
    setenv("TOLVAREN_SYSFS_TTY", SysTtyDir().c_str(), 1);
    setenv("TOLVAREN_DEV_DIR", DevDir().c_str(), 1);
    unsetenv("TOLVAREN_EXTRA_SERIAL_PORTS");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       m_root->path() + QStringLiteral("/config"));
}

FakeSysfs::~FakeSysfs()
{
    unsetenv("TOLVAREN_SYSFS_TTY");
    unsetenv("TOLVAREN_DEV_DIR");
}

std::string FakeSysfs::DevDir() const
{
    return (m_root->path() + QStringLiteral("/dev")).toStdString();
}

std::string FakeSysfs::SysTtyDir() const
{
    return (m_root->path() + QStringLiteral("/sys/class/tty")).toStdString();
}

void FakeSysfs::AddUart(int k, const std::string& target, bool realUart)
{
    const QString name = QStringLiteral("ttyS%1").arg(k);
    const QString root = m_root->path();
    const QString device = root + QStringLiteral("/sys/devices/platform/serial8250/tty/") + name;
    QDir().mkpath(device);
    MakeLink(root + QStringLiteral("/sys/bus/platform/drivers/serial8250"),
             device + QStringLiteral("/driver"));
    const QString entry = root + QStringLiteral("/sys/class/tty/") + name;
    QDir().mkpath(entry);
    MakeLink(device, entry + QStringLiteral("/device"));
    WriteFile(entry + QStringLiteral("/type"), realUart ? QStringLiteral("4") : QStringLiteral("0"));
    MakeLink(QString::fromStdString(target), root + QStringLiteral("/dev/") + name);
}

void FakeSysfs::AddUsbAdapter(const std::string& ttyName, const std::string& target,
                              const std::string& product, const std::string& byIdName)
{
    const QString name = QString::fromStdString(ttyName);
    const QString root = m_root->path();
    // Each adapter on a port of its own: usb1/1-<n>.
    const QString usbDevice = root + QStringLiteral("/sys/devices/pci0000:00/0000:00:14.0/usb1/1-") +
                              name;
    const QString device = usbDevice + QStringLiteral("/1-1:1.0/") + name;
    QDir().mkpath(device);
    if (!product.empty())
        WriteFile(usbDevice + QStringLiteral("/product"), QString::fromStdString(product));
    MakeLink(root + QStringLiteral("/sys/bus/usb-serial/drivers/ftdi_sio"),
             device + QStringLiteral("/driver"));
    const QString entry = root + QStringLiteral("/sys/class/tty/") + name;
    QDir().mkpath(entry);
    MakeLink(device, entry + QStringLiteral("/device"));
    MakeLink(QString::fromStdString(target), root + QStringLiteral("/dev/") + name);
    if (!byIdName.empty())
        MakeLink(QStringLiteral("../../") + name,
                 root + QStringLiteral("/dev/serial/by-id/") + QString::fromStdString(byIdName));
}

void FakeSysfs::Repoint(const std::string& ttyName, const std::string& target)
{
    MakeLink(QString::fromStdString(target),
             m_root->path() + QStringLiteral("/dev/") + QString::fromStdString(ttyName));
}

void FakeSysfs::Remove(const std::string& ttyName)
{
    const QString name = QString::fromStdString(ttyName);
    const QString root = m_root->path();
    QDir(root + QStringLiteral("/sys/class/tty/") + name).removeRecursively();
    QFile::remove(root + QStringLiteral("/dev/") + name);
    QDir byId(root + QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files)) {
        if (QFileInfo(link.symLinkTarget()).fileName() == name)
            QFile::remove(link.filePath());
    }
}

void FakeSysfs::SetLatencyTimer(const std::string& ttyName, int ms)
{
    const QString entry =
        m_root->path() + QStringLiteral("/sys/class/tty/") + QString::fromStdString(ttyName);
    WriteFile(entry + QStringLiteral("/device/latency_timer"), QString::number(ms));
}
