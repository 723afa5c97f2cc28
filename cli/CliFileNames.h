#pragma once

#include <string>

#include <QByteArray>
#include <QFile>
#include <QString>

// A file name from the command line, in the file system's own encoding.
inline QString FromArgument(const std::string& fileName)
{
    return QFile::decodeName(QByteArray::fromStdString(fileName));
}
