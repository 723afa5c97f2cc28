#include "protocol/WholeFileWriter.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <boost/throw_exception.hpp>

#include "protocol/FileWriteError.h"

namespace {

// As the system's own limit on the links followed in one path.
const int maxLinkHops = 40;

// The name of the file that does not exist yet: links followed one by one, so that a link whose
// target does not exist yet still leads to it.
QString NewTarget(const QString& fileName)
{
    QString path = fileName;
    for (int hop = 0; hop < maxLinkHops; ++hop) {
        const QFileInfo info(path);
        if (!info.isSymLink())
            return path;
        path = info.symLinkTarget();
    }
    return path; // a loop of links: opening it fails
}

} // namespace

WholeFileWriter::WholeFileWriter(const QString& fileName) : m_fileName(fileName) {}

// An uncommitted QSaveFile discards what it wrote; the file it would replace stays untouched.
WholeFileWriter::~WholeFileWriter() = default;

void WholeFileWriter::Open()
{
    const QFileInfo info(m_fileName); // through any links
    // Renaming over a device or a FIFO would replace it with a regular file; such a name (also
    // /dev/stdout and its kind) is opened as it is.
    m_inPlace = info.exists() && !info.isFile();
    if (m_inPlace)
        m_file = std::make_unique<QFile>(m_fileName);
    else if (info.exists())
        m_file = std::make_unique<QSaveFile>(info.canonicalFilePath());
    else
        m_file = std::make_unique<QSaveFile>(NewTarget(m_fileName));
    if (m_fileName.isEmpty() || !m_file->open(QIODevice::WriteOnly)) {
        m_file.reset();
        boost::throw_exception(FileWriteError::CannotOpen(m_fileName.toStdString()));
    }
}

void WholeFileWriter::Write(const QByteArray& bytes)
{
    if (!m_file || m_file->write(bytes) != bytes.size())
        Fail();
}

void WholeFileWriter::Commit()
{
    // The buffer's last bytes meet a full disk here; commit() would not say so.
    if (!m_file || !m_file->flush())
        Fail();
    bool written = false;
    if (m_inPlace) {
        m_file->close();
        written = m_file->error() == QFileDevice::NoError;
    } else {
        written = static_cast<QSaveFile&>(*m_file).commit();
    }
    m_file.reset();
    if (!written)
        boost::throw_exception(FileWriteError::CannotWrite(m_fileName.toStdString()));
}

void WholeFileWriter::Fail()
{
    if (m_file && !m_inPlace)
        static_cast<QSaveFile&>(*m_file).cancelWriting();
    m_file.reset();
    boost::throw_exception(FileWriteError::CannotWrite(m_fileName.toStdString()));
}

void WholeFileWriter::WriteFile(const QString& fileName, const QByteArray& bytes)
{
    WholeFileWriter writer(fileName);
    try {
        writer.Open();
    } catch (const FileWriteError&) {
        boost::throw_exception(FileWriteError::CannotWrite(fileName.toStdString()));
    }
    writer.Write(bytes);
    writer.Commit();
}

void WholeFileWriter::WriteFile(const QString& fileName, const ByteVec& bytes)
{
    WriteFile(fileName, QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                                int(bytes.size())));
}
