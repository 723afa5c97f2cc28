#include "protocol/LineFileWriter.h"

#include <QFileInfo>

#include <boost/throw_exception.hpp>

#include "protocol/FileWriteError.h"

LineFileWriter::LineFileWriter(const QString& fileName, Mode mode) : m_file(fileName)
{
    // Opened for appending in Replace mode as well: the file is checked to be writable now, but
    // keeps its contents until there is a line to replace them with.
    const QIODevice::OpenMode how = QIODevice::WriteOnly | QIODevice::Unbuffered |
                                    (mode == Truncate ? QIODevice::Truncate : QIODevice::Append);
    const bool existed = !fileName.isEmpty() && QFileInfo(fileName).exists();
    if (fileName.isEmpty() || !m_file.open(how))
        boost::throw_exception(FileWriteError::CannotOpen(fileName.toStdString()));
    m_replacePending = mode == Replace && !m_file.isSequential();
    m_created = mode == Replace && !existed;
    m_whole = m_file.isSequential() ? 0 : m_file.size();
}

LineFileWriter::~LineFileWriter()
{
    if (m_replacePending && m_created)
        m_file.remove();
}

void LineFileWriter::Write(const QByteArray& lines)
{
    if (m_replacePending) {
        if (!m_file.resize(0))
            boost::throw_exception(FileWriteError::CannotWrite(m_file.fileName().toStdString()));
        m_replacePending = false;
        m_whole = 0;
    }
    if (m_file.write(lines) == lines.size()) {
        m_whole += lines.size();
        return;
    }
    // Whatever reached the disk is kept up to its last line end. A FIFO or a device cannot take
    // back what it was given.
    if (!m_file.isSequential()) {
        const qint64 landed = qBound<qint64>(0, m_file.size() - m_whole, lines.size());
        const qint64 keep = landed > 0 ? lines.lastIndexOf('\n', int(landed - 1)) + 1 : 0;
        if (m_file.resize(m_whole + keep))
            m_whole += keep;
    }
    boost::throw_exception(FileWriteError::CannotWrite(m_file.fileName().toStdString()));
}
