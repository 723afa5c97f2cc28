#include "protocol/CardConfigSafetyCopy.h"

#include <QDir>
#include <QStandardPaths>

#include <boost/throw_exception.hpp>

#include "protocol/FileWriteError.h"
#include "protocol/TolvarenCommsCommon.h"
#include "protocol/WholeFileWriter.h"

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
    if (!QDir().mkpath(Folder()))
        boost::throw_exception(FileWriteError::CannotWrite(path.toStdString()));
    WholeFileWriter::WriteFile(path, image);
    return path;
}
