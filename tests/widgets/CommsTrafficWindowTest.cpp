#include "widgets/CommsTrafficWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "modbus/ModbusMasterDatalink.h"
#include "protocol/TolvarenCommsCommon.h"
#include "simulator/FullCardSimulator.h"
#include "tests/support/FakeCard.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/FutureWait.h"
#include "tests/widgets/ModalScript.h"
#include "widgets/ExtendedTableWidget.h"

namespace {

const int waitMs = 10000;

// Logs go to a folder of the test's own.
class TrafficWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dataHome.isValid());
        qputenv("XDG_DATA_HOME", m_dataHome.path().toLocal8Bit());
    }

    QStringList LogLines(const CommsTrafficWindow& window)
    {
        QFile file(window.LogFilePath());
        EXPECT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
        QStringList lines = QString::fromLatin1(file.readAll()).split('\n');
        EXPECT_EQ(lines.takeLast(), ""); // the last line ends too
        return lines;
    }

    static QString Cell(const CommsTrafficWindow& window, int row, int column)
    {
        QTableWidgetItem* item = window.Table()->item(row, column);
        return item ? item->text() : QString();
    }

    static int FindRow(const CommsTrafficWindow& window, const QString& type,
                       const QString& description)
    {
        for (int row = 0; row < window.Table()->rowCount(); ++row) {
            if (Cell(window, row, TrafficLogDecoder::TypeColumn) == type &&
                Cell(window, row, TrafficLogDecoder::DescColumn) == description)
                return row;
        }
        return -1;
    }

    QTemporaryDir m_dataHome;
    FullCardSimulator m_card;
    ModbusMasterDatalink m_datalink{&m_card};
};

ByteVec WriteRecord(unsigned register_, std::uint32_t units)
{
    return {2,    static_cast<unsigned char>(units),       static_cast<unsigned char>(units >> 8),
            static_cast<unsigned char>(units >> 16),       static_cast<unsigned char>(units >> 24),
            0,    8,
            0x01, 0x06,
            static_cast<unsigned char>(register_ >> 8),    static_cast<unsigned char>(register_),
            0x00, 0x2A,
            0x00, 0x00};
}

TEST_F(TrafficWindowTest, KeepsTheNewestRowsOnScreenAndEveryRowInTheFile)
{
    CommsTrafficWindow window(m_datalink);
    EXPECT_EQ(window.windowTitle(), "Modbus traffic live");
    ASSERT_FALSE(window.LogFilePath().isEmpty());
    EXPECT_TRUE(window.LogFilePath().startsWith(m_dataHome.path()));
    EXPECT_TRUE(window.LogFilePath().contains("/ModbusLogs/ModbusLog-"));
    EXPECT_EQ(window.findChild<QLabel*>("logPathLabel")->text(), window.LogFilePath());
    EXPECT_TRUE(window.findChild<QPushButton*>("showInExplorerButton")->isEnabled());
    // A second window in the same second keeps its own file.
    {
        CommsTrafficWindow other(m_datalink);
        EXPECT_FALSE(other.LogFilePath().isEmpty());
        EXPECT_NE(other.LogFilePath(), window.LogFilePath());
    }

    const unsigned total = 5100;
    ByteVec stream;
    for (unsigned i = 0; i < total; ++i) {
        const ByteVec record = WriteRecord(i, 62500 + i * 625); // 1 s, then every 10 ms
        stream.insert(stream.end(), record.begin(), record.end());
    }
    // In replies of a card's size, records split across them.
    for (std::size_t at = 0; at < stream.size(); at += 249)
        window.ProcessLogBytes(ByteVec(stream.begin() + long(at),
                                       stream.begin() + long(std::min(at + 249, stream.size()))));

    const int maxRows = CommsTrafficWindow::maxRows;
    ASSERT_EQ(window.Table()->rowCount(), maxRows);
    EXPECT_EQ(Cell(window, 0, TrafficLogDecoder::DescColumn),
              "WriteSingleRegister req/reply: holding-reg 99 = 42");
    EXPECT_EQ(Cell(window, maxRows - 1, TrafficLogDecoder::DescColumn),
              "WriteSingleRegister req/reply: holding-reg 5099 = 42");
    EXPECT_EQ(Cell(window, maxRows - 1, TrafficLogDecoder::DeltaColumn), "0.010");
    // Following the newest data: the newest row is current.
    EXPECT_EQ(window.Table()->currentRow(), maxRows - 1);

    const QStringList lines = LogLines(window);
    ASSERT_EQ(lines.size(), int(total) + 1);
    EXPECT_EQ(lines[0], "Time (sec)\tTime delta (sec)\tType\tFrame\tSlave\tDescription\t");
    EXPECT_TRUE(lines[1].endsWith("\t\tRX\t01 06 00 00 00 2a 00 00 \t1\t"
                                  "WriteSingleRegister req/reply: holding-reg 0 = 42\t"))
        << lines[1].toStdString();
    EXPECT_TRUE(lines[total].contains("holding-reg 5099 = 42"));
}

// A full disk: the log keeps its whole rows, and the table says once that the file failed.
TEST_F(TrafficWindowTest, AFullDiskKeepsWholeRowsAndIsSaidOnce)
{
    CommsTrafficWindow window(m_datalink);
    const QString path = window.LogFilePath();
    {
        FileSizeLimit full(QFileInfo(path).size() + 1000);
        for (unsigned batch = 0; batch < 2; ++batch) {
            ByteVec stream;
            for (unsigned i = 0; i < 50; ++i) {
                const ByteVec record = WriteRecord(i, 62500 + i * 625);
                stream.insert(stream.end(), record.begin(), record.end());
            }
            window.ProcessLogBytes(stream);
        }
    }
    const QStringList lines = LogLines(window);
    EXPECT_GT(lines.size(), 2);
    EXPECT_LT(lines.size(), 51);
    for (const QString& line : lines)
        EXPECT_TRUE(line.endsWith("\t") && line.count('\t') == 6) << line.toStdString();
    int said = 0;
    for (int row = 0; row < window.Table()->rowCount(); ++row)
        said += Cell(window, row, TrafficLogDecoder::DescColumn) == "Cannot write to file: " + path;
    EXPECT_EQ(said, 1);
}

TEST_F(TrafficWindowTest, ShowsTheToolsOwnRequestsToTheSimulatedCard)
{
    QPointer<CommsTrafficWindow> window = new CommsTrafficWindow(m_datalink);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->isVisible(); }, waitMs));

    TolvarenCommsCommon comms(m_datalink);
    const std::string request = "ReadInputRegisters request: starting addr 900, 1 register(s)";
    const std::string reply = "ReadInputRegisters reply: values 1207  ";
    auto serial = comms.ReadSingleRegister(false, 900);
    ASSERT_TRUE(FutureWait::Ready(serial));
    EXPECT_EQ(serial.get(), 1207);
    ASSERT_TRUE(QTest::qWaitFor([&] { return FindRow(*window, "TX", reply.c_str()) >= 0; },
                                waitMs));
    const int rx = FindRow(*window, "RX", request.c_str());
    ASSERT_GE(rx, 0);
    EXPECT_EQ(FindRow(*window, "TX", reply.c_str()), rx + 1);
    EXPECT_EQ(Cell(*window, rx, TrafficLogDecoder::SlaveColumn), "1");

    // Paused, nothing new is shown; what the card saw meanwhile comes once resumed.
    window->findChild<QPushButton*>("pauseResumeButton")->click();
    EXPECT_TRUE(window->IsPaused());
    EXPECT_EQ(window->findChild<QPushButton*>("pauseResumeButton")->text(), "Resume logging");
    const int last = window->Table()->rowCount() - 1;
    EXPECT_EQ(Cell(*window, last, TrafficLogDecoder::DescColumn), "Logging stopped by user");
    auto major = comms.ReadSingleRegister(false, 901);
    ASSERT_TRUE(FutureWait::Ready(major));
    const std::string whilePaused = "ReadInputRegisters request: starting addr 901, 1 register(s)";
    window->findChild<QPushButton*>("pauseResumeButton")->click();
    EXPECT_EQ(window->findChild<QPushButton*>("pauseResumeButton")->text(), "Stop logging");
    const int restarted = FindRow(*window, "", "Logging restarted by user");
    ASSERT_GE(restarted, 0);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return FindRow(*window, "RX", whilePaused.c_str()) > restarted; }, waitMs));

    // Copy: cells of a row joined by TABs, rows by line feeds.
    ExtendedTableWidget* table = window->Table();
    table->clearSelection();
    table->setSelectionMode(QAbstractItemView::MultiSelection);
    table->setCurrentCell(rx, TrafficLogDecoder::SlaveColumn);
    table->setCurrentCell(rx, TrafficLogDecoder::DescColumn);
    table->setCurrentCell(rx + 1, TrafficLogDecoder::SlaveColumn);
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "1\t" + request + "\n1");

    window->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.isNull(); }, waitMs));
}

TEST_F(TrafficWindowTest, AReadRefusedBeforeTheWindowShowedWarnsAndDeletesIt)
{
    FakeCard card;
    card.SetVendorHandler(21, [](const ByteVec&, ByteVec&) { return 1; });
    ModbusMasterDatalink datalink(&card);
    QString warning;
    ModalScript script;
    script.Then([&](QWidget* box) {
        warning = static_cast<QMessageBox*>(box)->text();
        static_cast<QMessageBox*>(box)->accept();
    });
    QPointer<CommsTrafficWindow> window = new CommsTrafficWindow(datalink);
    script.Run([&] { return QTest::qWaitFor([&] { return window.isNull(); }, waitMs); });
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(warning.toStdString(), "Error reading traffic log: node returned an error: illegal function");
    EXPECT_EQ(script.StepsLeft(), 0);
}

// A reply that arrives just after the user paused is not shown, but its bytes still go through
// the decoder: the records that follow it, read after resuming, decode as they are.
TEST_F(TrafficWindowTest, AReplyArrivingWhilePausedKeepsTheStreamInStep)
{
    QPointer<CommsTrafficWindow> window = new CommsTrafficWindow(m_datalink);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->isVisible(); }, waitMs));
    auto* pause = window->findChild<QPushButton*>("pauseResumeButton");
    pause->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->ReadOutstanding(); }, waitMs));

    // Twelve exchanges of 29 bytes each: more than one reply can carry.
    TolvarenCommsCommon comms(m_datalink);
    for (int k = 0; k < 12; ++k) {
        auto read = comms.ReadSingleRegister(false, 900);
        ASSERT_TRUE(FutureWait::Ready(read));
    }
    m_card.HoldReplies();
    pause->click(); // resume: a read goes out and waits
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->ReadOutstanding(); }, waitMs));
    pause->click(); // paused again before its reply came
    m_card.ReleaseReplies();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->ReadOutstanding(); }, waitMs));

    auto last = comms.ReadSingleRegister(false, 901);
    ASSERT_TRUE(FutureWait::Ready(last));
    const int rowsBefore = window->Table()->rowCount();
    pause->click();
    const std::string request = "ReadInputRegisters request: starting addr 901, 1 register(s)";
    ASSERT_TRUE(QTest::qWaitFor([&] { return FindRow(*window, "RX", request.c_str()) >= 0; },
                                waitMs));
    for (int row = rowsBefore; row < window->Table()->rowCount(); ++row)
        EXPECT_NE(Cell(*window, row, TrafficLogDecoder::TypeColumn), "Err") << row;
    delete window.data();
}

// A wide window gives its spare width to Frame; every header and description stays readable.
TEST_F(TrafficWindowTest, FrameTakesTheSpareWidthAndHeadersFit)
{
    QPointer<CommsTrafficWindow> window = new CommsTrafficWindow(m_datalink);
    window->resize(1600, 600);
    TrafficLogDecoder::Row row;
    row.cells[TrafficLogDecoder::FrameColumn] = QString("01 10 00 00 00 04 08 ").repeated(3);
    row.cells[TrafficLogDecoder::DescColumn] =
        "WriteMultipleRegisters request: reg 0 = 1,  reg 1 = 2";
    window->AddTrafficRow(row);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.data()));

    QHeaderView* header = window->Table()->horizontalHeader();
    const QFontMetrics metrics(window->Table()->font());
    EXPECT_GT(header->sectionSize(TrafficLogDecoder::FrameColumn),
              metrics.horizontalAdvance(row.cells[TrafficLogDecoder::FrameColumn]));
    EXPECT_GT(header->sectionSize(TrafficLogDecoder::DescColumn),
              metrics.horizontalAdvance(row.cells[TrafficLogDecoder::DescColumn]));
    int widths = 0;
    for (int c = 0; c < TrafficLogDecoder::columnCount; ++c) {
        EXPECT_GE(header->sectionSize(c), header->sectionSizeHint(c)) << "header " << c;
        widths += header->sectionSize(c);
    }
    EXPECT_EQ(widths, window->Table()->viewport()->width()) << "no spare width left over";
    delete window.data();
}

// Where no file manager can be started, the button says where the log is instead.
TEST_F(TrafficWindowTest, ShowInExplorerWithoutAFileManagerNamesTheFile)
{
    QPointer<CommsTrafficWindow> window = new CommsTrafficWindow(m_datalink);
    ASSERT_FALSE(window->LogFilePath().isEmpty());
    QString said;
    Qt::TextInteractionFlags flags;
    ModalScript script;
    script.Then([&](QWidget* box) {
        said = static_cast<QMessageBox*>(box)->text();
        flags = static_cast<QMessageBox*>(box)->textInteractionFlags();
        static_cast<QMessageBox*>(box)->accept();
    });
    script.Run([&] { window->findChild<QPushButton*>("showInExplorerButton")->click(); });
    EXPECT_EQ(script.StepsLeft(), 0) << "the offscreen platform starts no file manager";
    EXPECT_TRUE(said.endsWith(QDir::toNativeSeparators(window->LogFilePath())))
        << said.toStdString();
    EXPECT_TRUE(flags & Qt::TextSelectableByMouse);
    delete window.data();
}

} // namespace
