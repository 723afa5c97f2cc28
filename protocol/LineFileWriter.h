#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Writes a file that grows line by line (the 8-day CSV, the traffic log, the calibration log),
// so that whatever stops the writing (a cancel, a card that stops answering, a full disk) leaves
// only whole lines behind. Lines go to the disk as they are written, without a buffer in
// between; a line cut by a full disk is cut back to the end of the last whole line.
//
// Errors are FileWriteError naming the file: "Cannot open file: " from the constructor,
// "Cannot write to file: " from Write. Threads: one object is used by one thread at a time.
class LineFileWriter
{
public:
    enum Mode { Truncate, Append };

    LineFileWriter(const QString& fileName, Mode mode);
    LineFileWriter(const LineFileWriter&) = delete;
    LineFileWriter& operator=(const LineFileWriter&) = delete;

    // lines: one or more whole lines, each ending in '\n' (line ends are written as given).
    void Write(const QByteArray& lines);

    QString FileName() const { return m_file.fileName(); }

private:
    QFile m_file;
    // The size of the file up to the end of its last whole line.
    qint64 m_whole = 0;
};
