#include "widgets/CommsTrafficWindow.h"

#include <algorithm>

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QMessageBox>
#include <QPointer>
#include <QScrollBar>
#include <QStyle>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include "modbus/ModbusErrors.h"
#include "protocol/FileWriteError.h"
#include "protocol/LineFileWriter.h"
#include "protocol/TolvarenCommsCommon.h"
#include "ui_CommsTrafficWindow.h"
#include "widgets/ExtendedTableWidget.h"

namespace {

const int pollIntervalMs = 50;
const int repaintIntervalMs = 40;
// A reply this full means the card has more waiting: read again at once.
const std::size_t fullReplyPayload = 248;

const char* const columnHeaders[TrafficLogDecoder::columnCount] = {
    "Time (sec)", "Time delta (sec)", "Type", "Frame", "Slave", "Description"};

std::int64_t NowMsOfDay()
{
    return QTime::currentTime().msecsSinceStartOfDay();
}

} // namespace

CommsTrafficWindow::CommsTrafficWindow(ModbusMasterDatalink& datalink, QWidget* parent)
    : QWidget(parent, Qt::Window), m_ui(new Ui::CommsTrafficWindow),
      m_datalink(&datalink), m_openedOn(&datalink), m_comms(new TolvarenCommsCommon(datalink))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_QuitOnClose, false);
    m_ui->setupUi(this);

    ExtendedTableWidget* table = m_ui->trafficTable;
    table->setColumnCount(TrafficLogDecoder::columnCount);
    QStringList headers;
    for (const char* header : columnHeaders)
        headers << header;
    table->setHorizontalHeaderLabels(headers);
    FitColumns();
    // Every row is 0.6 of the default height: one default for the whole header instead of a
    // height per row, which keeps appending at a steady cost.
    QHeaderView* rows = table->verticalHeader();
    m_rowHeight = int(rows->defaultSectionSize() * 0.6);
    rows->setMinimumSectionSize(1);
    rows->setDefaultSectionSize(m_rowHeight);
    rows->setSectionResizeMode(QHeaderView::Fixed);
    // Row numbers of a rolling log mean nothing, and measuring them costs more than the rows.
    rows->hide();

    connect(table->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &CommsTrafficWindow::OnVertScroll);
    m_repaintTimer.setSingleShot(true);
    m_repaintTimer.setInterval(repaintIntervalMs);
    connect(&m_repaintTimer, &QTimer::timeout, this,
            [this] { m_ui->trafficTable->viewport()->setUpdatesEnabled(true); });
    OpenTrafficLogFile();
    ScheduleRead(pollIntervalMs);
}

CommsTrafficWindow::~CommsTrafficWindow()
{
    FlushLog();
}

ExtendedTableWidget* CommsTrafficWindow::Table() const
{
    return m_ui->trafficTable;
}

// Every header readable whole; Frame takes whatever width is left, as long frames are what the
// window is for; Description grows to its widest text (see FitDescriptionColumn).
void CommsTrafficWindow::FitColumns()
{
    ExtendedTableWidget* table = m_ui->trafficTable;
    QHeaderView* header = table->horizontalHeader();
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(1);
    const QFontMetrics metrics(table->font());
    // What a cell needs beyond its text: the item's own margins and the grid line.
    const int cellMargin =
        2 * (table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table) + 1) + 1;
    const QString widestCell[TrafficLogDecoder::columnCount] = {
        QStringLiteral("00:00:00.000"), QStringLiteral("00000.000"),
        QStringLiteral("Err"),          QString(),
        QStringLiteral("000"),          QString()};
    for (int c = 0; c < TrafficLogDecoder::columnCount; ++c) {
        const int width = std::max(header->sectionSizeHint(c),
                                   metrics.horizontalAdvance(widestCell[c]) + cellMargin);
        header->resizeSection(c, width);
        header->setSectionResizeMode(c, QHeaderView::Interactive);
    }
    m_descriptionWidth = header->sectionSize(TrafficLogDecoder::DescColumn);
    header->setSectionResizeMode(TrafficLogDecoder::FrameColumn, QHeaderView::Stretch);
}

// Description keeps room for its widest text so far; a very long one is bounded and ends in
// "...", rather than pushing Frame out of sight.
void CommsTrafficWindow::FitDescriptionColumn(const TrafficLogDecoder::Row* rows, std::size_t count)
{
    ExtendedTableWidget* table = m_ui->trafficTable;
    const QFontMetrics metrics(table->font());
    const int cellMargin =
        2 * (table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table) + 1) + 1;
    const int bound = std::max(m_descriptionWidth, 700);
    int wanted = m_descriptionWidth;
    for (std::size_t r = 0; r < count && wanted < bound; ++r) {
        const QString& text = rows[r].cells[TrafficLogDecoder::DescColumn];
        if (!text.isEmpty())
            wanted = std::max(wanted, metrics.horizontalAdvance(text) + cellMargin);
    }
    wanted = std::min(wanted, bound);
    if (wanted > m_descriptionWidth) {
        m_descriptionWidth = wanted;
        table->horizontalHeader()->resizeSection(TrafficLogDecoder::DescColumn, wanted);
    }
}

void CommsTrafficWindow::CardGone()
{
    if (!m_comms)
        return;
    // Destroying the card access object cancels a read still on its way; its delivery, if
    // any, finds no card and is dropped.
    m_comms.reset();
    m_datalink = nullptr;
    m_readOutstanding = false;
    AddStatusRow(QStringLiteral("The card this window was opened for has gone: logging stopped. "
                                "Open \"Modbus traffic\" again for the card now connected."));
    FlushLog();
    m_logFile.reset();
    m_ui->pauseResumeButton->setEnabled(false);
    setWindowTitle(QStringLiteral("Modbus traffic (stopped)"));
}

QString CommsTrafficWindow::LogFilePath() const
{
    return m_logPath;
}

void CommsTrafficWindow::OpenTrafficLogFile()
{
    const QString dir =
        QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + "/ModbusLogs/";
    if (!QDir().mkpath(dir))
        return;
    const QString stem =
        dir + "ModbusLog-" + QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss");
    // Two windows opened within the same second must not truncate each other's log.
    QString path = stem + ".txt";
    for (int n = 2; QFileInfo::exists(path) && n < 1000; ++n)
        path = stem + "-" + QString::number(n) + ".txt";
    if (QFileInfo::exists(path))
        return;
    try {
        m_logFile = std::make_unique<LineFileWriter>(path, LineFileWriter::Truncate);
    } catch (const FileWriteError&) {
        return;
    }
    m_logPath = path;
    m_ui->logPathLabel->setText(QDir::toNativeSeparators(path));
    m_ui->showInExplorerButton->setEnabled(true);
    QString headers[TrafficLogDecoder::columnCount];
    for (int c = 0; c < TrafficLogDecoder::columnCount; ++c)
        headers[c] = columnHeaders[c];
    WriteLogLine(headers, TrafficLogDecoder::columnCount);
    FlushLog();
}

void CommsTrafficWindow::WriteLogLine(const QString* cells, int count)
{
    if (!m_logFile)
        return;
    QString line;
    for (int c = 0; c < count; ++c)
        line += cells[c] + '\t';
    m_pendingLog += line.toLocal8Bit() + '\n';
}

// After every batch of rows: the file holds every row the table has shown. A file that fails
// keeps its whole lines and is written no more; the table says so once.
void CommsTrafficWindow::FlushLog()
{
    if (!m_logFile)
        return;
    try {
        m_logFile->Write(m_pendingLog);
    } catch (const FileWriteError& e) {
        m_logFile.reset();
        m_logError = QString::fromUtf8(e.what());
    }
    m_pendingLog.clear();
}

void CommsTrafficWindow::ScheduleRead(int delayMs)
{
    QTimer::singleShot(delayMs, this, &CommsTrafficWindow::GetNextChunkOfData);
}

void CommsTrafficWindow::GetNextChunkOfData()
{
    // A read taken while paused would only be thrown away, and the card would lose it.
    if (m_paused || m_readOutstanding || !m_comms)
        return;
    m_readOutstanding = true;
    boost::future<ByteVec> reply;
    try {
        reply = m_comms->GetTrafficLogChunk(!m_first);
    } catch (...) {
        boost::promise<ByteVec> failed;
        failed.set_exception(boost::current_exception());
        reply = failed.get_future();
    }
    m_first = false;
    ThenDeliverToSlot(m_then, std::move(reply), this, "HandleNewData");
}

void CommsTrafficWindow::HandleNewData(FuturePtr<ByteVec>::type fut)
{
    if (!m_comms)
        return; // the card has gone: whatever this read brought is not this window's
    m_readOutstanding = false;
    if (!fut)
        return;
    try {
        const ByteVec bytes = fut->get();
        if (m_paused) {
            // The card has handed these bytes over: parse them so that the stream stays in
            // step, but show nothing until logging is resumed.
            m_records.clear();
            m_decoder.ParseTrafficRecords(bytes.data(), bytes.size(), m_records);
            m_records.clear();
            return;
        }
        if (isHidden())
            show();
        ProcessLogBytes(bytes);
        ScheduleRead(bytes.size() > fullReplyPayload ? 0 : pollIntervalMs);
    } catch (const Modbus::TimeoutError&) {
        ScheduleRead(pollIntervalMs);
    } catch (const Modbus::Error& e) {
        QPointer<CommsTrafficWindow> self(this);
        QMessageBox::warning(this, QString(),
                             QStringLiteral("Error reading traffic log: ") +
                                 QString::fromStdString(e.what()));
        if (!self)
            return; // closed while the box was open
        SetLoggingPaused(true);
        if (!isVisible())
            deleteLater();
    }
}

void CommsTrafficWindow::ProcessLogBytes(const ByteVec& bytes)
{
    m_records.clear();
    m_decoder.ParseTrafficRecords(bytes.data(), bytes.size(), m_records);
    if (m_records.empty())
        return;
    m_rows.clear();
    m_rows.reserve(m_records.size() + 1);
    const std::int64_t now = NowMsOfDay();
    for (const TrafficRecord& record : m_records) {
        TrafficLogDecoder::Row row;
        if (m_decoder.DescribeTrafficRecord(record, now, row)) {
            TrafficLogDecoder::Row reset;
            reset.cells[TrafficLogDecoder::TimeColumn] = QStringLiteral("Timer reset");
            m_rows.push_back(std::move(reset));
        }
        m_rows.push_back(std::move(row));
    }
    m_records.clear();
    AddTrafficRows(m_rows.data(), m_rows.size());
    m_rows.clear();
}

void CommsTrafficWindow::AddTrafficRow(const TrafficLogDecoder::Row& row)
{
    AddTrafficRows(&row, 1);
}

void CommsTrafficWindow::AddTrafficRows(const TrafficLogDecoder::Row* rows, std::size_t count)
{
    if (count == 0)
        return;
    for (std::size_t r = 0; r < count; ++r)
        WriteLogLine(rows[r].cells, TrafficLogDecoder::columnCount);
    FlushLog();
    FitDescriptionColumn(rows, count);

    // Rows that would be dropped at once never reach the table.
    if (count > std::size_t(maxRows)) {
        rows += count - maxRows;
        count = maxRows;
    }
    ExtendedTableWidget* table = m_ui->trafficTable;
    if (!m_repaintTimer.isActive()) {
        table->viewport()->setUpdatesEnabled(false);
        m_repaintTimer.start();
    }
    const int before = table->rowCount();
    const int added = int(count);
    table->setRowCount(before + added);
    for (int r = 0; r < added; ++r) {
        for (int c = 0; c < TrafficLogDecoder::columnCount; ++c)
            table->setItem(before + r, c, new QTableWidgetItem(rows[r].cells[c]));
    }
    const int excess = table->rowCount() - maxRows;
    if (excess > 0)
        table->model()->removeRows(0, excess);
    if (m_ui->followCheckbox->isChecked()) {
        table->setCurrentCell(table->rowCount() - 1, 0);
        table->scrollToBottom();
    }
    if (!m_logError.isEmpty()) {
        const QString error = m_logError;
        m_logError.clear();
        AddStatusRow(error);
    }
}

void CommsTrafficWindow::AddStatusRow(const QString& message)
{
    TrafficLogDecoder::Row row;
    row.cells[TrafficLogDecoder::TimeColumn] = TrafficLogDecoder::TimeOfDayText(NowMsOfDay());
    row.cells[TrafficLogDecoder::DescColumn] = message;
    AddTrafficRow(row);
}

void CommsTrafficWindow::SetLoggingPaused(bool pause)
{
    FlushLog();
    if (pause) {
        m_paused = true;
        m_ui->pauseResumeButton->setText(QStringLiteral("Resume logging"));
        AddStatusRow(QStringLiteral("Logging stopped by user"));
    } else {
        AddStatusRow(QStringLiteral("Logging restarted by user"));
        m_paused = false;
        m_ui->pauseResumeButton->setText(QStringLiteral("Stop logging"));
        ScheduleRead(0);
    }
}

void CommsTrafficWindow::on_pauseResumeButton_clicked()
{
    SetLoggingPaused(!m_paused);
}

void CommsTrafficWindow::on_followCheckbox_toggled(bool checked)
{
    if (checked)
        m_ui->trafficTable->scrollToBottom();
}

void CommsTrafficWindow::OnVertScroll(int scrollPos)
{
    if (scrollPos < m_ui->trafficTable->verticalScrollBar()->maximum())
        m_ui->followCheckbox->setChecked(false);
}

void CommsTrafficWindow::on_copyButton_clicked()
{
    m_ui->trafficTable->copy();
}

void CommsTrafficWindow::on_showInExplorerButton_clicked()
{
    if (m_logPath.isEmpty())
        return;
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(m_logPath).absolutePath())))
        return;
    // No file manager to show it: say where the file is, in text that can be copied.
    QMessageBox box(QMessageBox::Information, QString(),
                    QStringLiteral("The traffic log is stored in:\n") +
                        QDir::toNativeSeparators(m_logPath),
                    QMessageBox::Ok, this);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box.exec();
}
