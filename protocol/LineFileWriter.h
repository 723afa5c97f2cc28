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
    // Truncate empties the file at once; Append adds to it; Replace keeps what the file holds
    // until the first line is written, and removes a file that the open created when nothing
    // was written to it, so a writer that stops before its first line leaves no empty file.
    enum Mode { Truncate, Append, Replace };

    LineFileWriter(const QString& fileName, Mode mode);
    ~LineFileWriter();
    LineFileWriter(const LineFileWriter&) = delete;
    LineFileWriter& operator=(const LineFileWriter&) = delete;

    // lines: one or more whole lines, each ending in '\n' (line ends are written as given).
    void Write(const QByteArray& lines);

    QString FileName() const { return m_file.fileName(); }

private:
    QFile m_file;
    // Replace: the file's old contents still have to go before the first line.
    bool m_replacePending = false;
    // Replace: the open created the file.
    bool m_created = false;
    // The size of the file up to the end of its last whole line.
    qint64 m_whole = 0;
};
