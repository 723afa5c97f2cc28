#pragma once

#include <memory>

#include <QByteArray>
#include <QString>

#include "comms/ByteVec.h"

class QFileDevice;

// Writes a file that is only worth having whole (a .dat image, a safety copy, an export): a
// regular file is written beside its target and renamed over it once every byte is on the disk,
// so a full disk or any other failure leaves the old file as it was. A path that is not a
// regular file (a device, a FIFO) is written in place, never replaced; a symbolic link is
// followed to its target (a dangling one creates it) and stays a link.
//
// Errors are FileWriteError with the name as given: "Cannot open file: " from Open,
// "Cannot write to file: " from Write and Commit. After a failure the write is cancelled and
// the object does nothing more. Threads: one object is used by one thread at a time.
class WholeFileWriter
{
public:
    explicit WholeFileWriter(const QString& fileName);
    // Cancels a write that was not committed.
    ~WholeFileWriter();
    WholeFileWriter(const WholeFileWriter&) = delete;
    WholeFileWriter& operator=(const WholeFileWriter&) = delete;

    void Open();
    void Write(const QByteArray& bytes);
    // Flushes, checks and puts the file in place. Only then is the file written.
    void Commit();

    // Open, Write and Commit in one; any failure is "Cannot write to file: " + fileName.
    static void WriteFile(const QString& fileName, const QByteArray& bytes);
    static void WriteFile(const QString& fileName, const ByteVec& bytes);

private:
    [[noreturn]] void Fail();

    QString m_fileName;
    std::unique_ptr<QFileDevice> m_file;
    bool m_inPlace = false;
};
