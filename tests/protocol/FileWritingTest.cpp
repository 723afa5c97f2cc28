// The files of the protocol layer on a full disk, and on paths that are not plain files.

#include <functional>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "modbus/ModbusMasterDatalink.h"
#include "protocol/CardConfigCsv.h"
#include "protocol/FileWriteError.h"
#include "protocol/HistoricalDataDownloader.h"
#include "protocol/TolvarenSnapshotGatherer.h"
#include "protocol/WholeFileWriter.h"
#include "simulator/FullCardSimulator.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/FutureWait.h"

namespace {

QByteArray Read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

TEST(FileWritingTest, AFullDiskFailsEveryWriterAndKeepsWhatWasGood)
{
    QTemporaryDir folder;
    FullCardSimulator card;
    ModbusMasterDatalink datalink(&card);
    TolvarenSnapshotGatherer gatherer(datalink);
    auto gathered = gatherer.RefreshSnapshot();
    ASSERT_TRUE(FutureWait::Ready(gathered));
    gathered.get();

    const QByteArray old = "a good old file\r\n";
    struct Case
    {
        const char* what;
        std::uint64_t limit;
        std::function<void(const QString& path)> write;
        bool whole; // else written as it grows: whole lines of the new file only
    };
    const Case cases[] = {
        {"configuration CSV export", 64,
         [&](const QString& path) { WriteCardConfigCsv(gatherer.Snapshot(), path.toStdString()); },
         true},
        {"8-day download", 4096,
         [&](const QString& path) {
             HistoricalDataDownloader download(datalink, path.toStdString(), {});
             auto done = download.Start();
             ASSERT_TRUE(FutureWait::Ready(done));
             done.get();
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = folder.filePath(c.what);
        WriteBytes(path, old);
        std::string error;
        {
            FileSizeLimit full(c.limit);
            try {
                c.write(path);
            } catch (const FileWriteError& e) {
                error = e.what();
            }
        }
        EXPECT_EQ(error, "Cannot write to file: " + path.toStdString());
        const QByteArray now = Read(path);
        if (c.whole) {
            EXPECT_EQ(now, old);
        } else {
            EXPECT_TRUE(now.contains("\r\nDate/Time,")) << now.left(80).toStdString();
            EXPECT_TRUE(now.endsWith("\r\n")) << now.right(80).toStdString();
            EXPECT_LE(now.size(), qint64(c.limit));
        }
    }
    // Nothing half-written was left beside the files.
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST(FileWritingTest, DevicesAreWrittenInPlaceAndLinksStayLinks)
{
    QTemporaryDir folder;
    const QByteArray image("\x03\x01 an image", 11);

    // The reader is there first, so the writer's open does not wait and a test gone wrong
    // cannot hang.
    const QString fifo = folder.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    WholeFileWriter::WriteFile(fifo, image);
    char received[64];
    const ssize_t count = ::read(reader, received, sizeof received);
    ::close(reader);
    EXPECT_EQ(QByteArray(received, int(std::max<ssize_t>(count, 0))), image);
    struct stat status = {};
    ASSERT_EQ(::lstat(QFile::encodeName(fifo).constData(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));

    // Relative links, to a file and to one that does not exist yet.
    WriteBytes(folder.filePath("old.dat"), "old");
    for (const char* target : {"old.dat", "new.dat"}) {
        SCOPED_TRACE(target);
        const QString link = folder.filePath(QString("to-") + target);
        ASSERT_TRUE(QFile::link(target, link));
        WholeFileWriter::WriteFile(link, image);
        EXPECT_TRUE(QFileInfo(link).isSymLink());
        EXPECT_EQ(Read(folder.filePath(target)), image);
    }
}

} // namespace
