#pragma once

#include <memory>

#include <QByteArray>
#include <QString>
#include <QTimer>
#include <QWidget>

#include "async/FuturePtr.h"
#include "async/FutureThen.h"
#include "widgets/TrafficLogDecoder.h"

class ExtendedTableWidget;
class LineFileWriter;
class ModbusMasterDatalink;
class TolvarenCommsCommon;

namespace Ui {
class CommsTrafficWindow;
}

// Shows the Modbus traffic a card has logged: polls the card's traffic log, decodes each record
// into a table row (the newest 5001 are kept on screen) and writes every row to a text file
// under the application's data folder, "ModbusLogs/". Logging can be paused; "Follow newest
// data" keeps the newest row in view until the user scrolls up.
//
// A top-level window that deletes itself when closed and never keeps the application running.
// It shows itself when the first read succeeds; when a read fails before it was ever shown it
// deletes itself, so callers hold it in a QPointer. The datalink must outlive it.
//
// Threads: user-interface thread only. Log reads complete on the datalink's threads and reach
// HandleNewData through a worker of the window's FutureThen and a queued call.
class CommsTrafficWindow : public QWidget
{
    Q_OBJECT

public:
    static constexpr int maxRows = 5001;

    explicit CommsTrafficWindow(ModbusMasterDatalink& datalink, QWidget* parent = nullptr);
    ~CommsTrafficWindow() override;

    // Appends one row to the table and the log file, dropping the oldest row past maxRows.
    void AddTrafficRow(const TrafficLogDecoder::Row& row);
    // The same for several rows at once: the table grows and sheds its oldest rows once for
    // all of them, which keeps a busy log cheap.
    void AddTrafficRows(const TrafficLogDecoder::Row* rows, std::size_t count);
    void AddStatusRow(const QString& message);
    void SetLoggingPaused(bool pause);

    // The card this window was opened for has gone (another card, the simulated card, another
    // port): says so in a status row, stops reading for good and lets go of the datalink, so
    // that no other card's frames reach this window's log. The window stays open with what it
    // has; Datalink() is null from then on.
    void CardGone();
    bool HasCard() const { return m_comms != nullptr; }

    bool IsPaused() const { return m_paused; }
    bool ReadOutstanding() const { return m_readOutstanding; }
    const ModbusMasterDatalink* Datalink() const { return m_datalink; }
    // The datalink the window was opened on, also after CardGone(): whose window it is (only
    // compared, never used).
    const ModbusMasterDatalink* OpenedOn() const { return m_openedOn; }
    // Empty when no log file could be opened.
    QString LogFilePath() const;
    ExtendedTableWidget* Table() const;
    // Decodes a piece of the log stream into rows, as a read's reply is.
    void ProcessLogBytes(const ByteVec& bytes);

public slots:
    void GetNextChunkOfData();
    void HandleNewData(FuturePtr<ByteVec>::type fut);
    void on_followCheckbox_toggled(bool checked);
    void OnVertScroll(int scrollPos);
    void on_pauseResumeButton_clicked();
    void on_copyButton_clicked();
    void on_showInExplorerButton_clicked();

private:
    void OpenTrafficLogFile();
    void WriteLogLine(const QString* cells, int count);
    void FlushLog();
    void ScheduleRead(int delayMs);
    void FitColumns();
    void FitDescriptionColumn(const TrafficLogDecoder::Row* rows, std::size_t count);

    std::unique_ptr<Ui::CommsTrafficWindow> m_ui;
    const ModbusMasterDatalink* m_datalink;
    const ModbusMasterDatalink* const m_openedOn;
    TrafficLogDecoder m_decoder;
    std::vector<TrafficRecord> m_records;
    std::vector<TrafficLogDecoder::Row> m_rows;
    bool m_first = true;
    bool m_paused = false;
    // A read is on its way: resuming then must not start a second one.
    bool m_readOutstanding = false;
    int m_rowHeight = 0;
    int m_descriptionWidth = 0; // what the widest description needs, up to a bound
    // Repaints the table at most this often while rows pour in: painting, not appending, is
    // what a busy log costs.
    QTimer m_repaintTimer;
    std::unique_ptr<LineFileWriter> m_logFile; // none once it failed
    QString m_logPath;
    QByteArray m_pendingLog; // the rows of the batch being added
    QString m_logError;      // a failure of the log file, said once in the table

    // Destroyed in reverse order: the card access object cancels a read still queued before
    // m_then joins its delivery threads.
    FutureThen m_then;
    std::unique_ptr<TolvarenCommsCommon> m_comms;
};
