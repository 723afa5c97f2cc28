#include "protocol/CardConfigSafetyCopy.h"

#include <QDir>
#include <QSaveFile>
#include <QStandardPaths>

#include <boost/throw_exception.hpp>

#include "comms/ExceptionWithString.h"
#include "protocol/TolvarenCommsCommon.h"

QString CardConfigSafetyCopy::Folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
           "/ConfigBackups";
}

QString CardConfigSafetyCopy::FileName(unsigned serialNumber, const QDateTime& when)
{
    return QString("%1_%2.dat").arg(serialNumber).arg(when.toString("yyyyMMdd-HHmmss-zzz"));
}

QString CardConfigSafetyCopy::Keep(TolvarenCommsCommon& comms)
{
    const ByteVec image = comms.GetCardConfig().get();
    const unsigned serial =
        comms.ReadSingleRegister(false, TolvarenCommsCommon::regSerialNumber).get();
    const QString path = Folder() + "/" + FileName(serial, QDateTime::currentDateTime());
    if (!QDir().mkpath(Folder()) || !WriteWholeFile(path, image))
        boost::throw_exception(ExceptionWithString("Cannot write to file: " + path.toStdString()));
    return path;
}

bool CardConfigSafetyCopy::WriteWholeFile(const QString& fileName, const ByteVec& bytes)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const qint64 length = qint64(bytes.size());
    return file.write(reinterpret_cast<const char*>(bytes.data()), length) == length &&
           file.commit();
}
