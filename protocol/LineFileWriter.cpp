#include "protocol/LineFileWriter.h"

#include <boost/throw_exception.hpp>

#include "protocol/FileWriteError.h"

LineFileWriter::LineFileWriter(const QString& fileName, Mode mode) : m_file(fileName)
{
    const QIODevice::OpenMode how = QIODevice::WriteOnly | QIODevice::Unbuffered |
                                    (mode == Append ? QIODevice::Append : QIODevice::Truncate);
    if (fileName.isEmpty() || !m_file.open(how))
        boost::throw_exception(FileWriteError::CannotOpen(fileName.toStdString()));
    m_whole = m_file.isSequential() ? 0 : m_file.size();
}

void LineFileWriter::Write(const QByteArray& lines)
{
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
