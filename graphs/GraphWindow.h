#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <QMessageBox>
#include <QString>
#include <QTimer>
#include <QWidget>

#include "async/FuturePtr.h"
#include "async/FutureThen.h"
#include "async/ReplyRelay.h"
#include "protocol/TolvarenTypes.h"

class DataPlotRenderer;
class ModbusMasterDatalink;
class TolvarenCommsCommon;

namespace Ui {
class GraphWindow;
}

// The graph of one I/O point in a top-level window of its own. A live graph polls the card for
// the point's newest samples until it is closed, an error stops it or the plot is full; a
// historical graph downloads the card's 8-day record of the point chunk by chunk and then shows
// it with real times. Both export all samples, or those between markers 1 and 2, to CSV.
//
// The window deletes itself when closed and never keeps the application running. It may also
// delete itself before it is ever shown (its first request failed): callers hold it in a
// QPointer. The datalink must outlive it.
//
// Threads: user-interface thread only. Chunk requests complete on the datalink's threads and
// reach HandleNewData through a worker of the window's FutureThen and a queued call.
class GraphWindow : public QWidget
{
    Q_OBJECT

public:
    struct YRange
    {
        double low;
        double high;
    };

    static GraphWindow* OpenLiveGraph(ModbusMasterDatalink& datalink, Tolvaren::IoDirection dir,
                                      unsigned index, const QString& scalingText, QWidget* parent);
    static GraphWindow* OpenHistoricalGraph(ModbusMasterDatalink& datalink,
                                            Tolvaren::IoDirection dir, unsigned index,
                                            const QString& scalingText, QWidget* parent);

    ~GraphWindow() override;

    // The y range a point's graph opens with, from the unit of its scaling profile (UTF-8, as
    // UnitFromProfileName gives it) and the profile's name. readLimits (lower, upper) is called
    // only for profiles scaled between the point's limits.
    static YRange YRangeFor(const std::string& unit, const std::string& scalingText,
                            const std::function<std::pair<short, short>()>& readLimits);

    int PollIntervalMs() const { return m_pollIntervalMs; }
    int SamplesReceived() const { return m_samplesReceived; }

    // Writes the samples first..last (none when last < first) to fileName as Latin-1 CSV and
    // reports the outcome in a message box.
    void WriteGraphCsv(int first, int last, const QString& fileName);

public slots:
    void GetNextChunkOfData();
    void HandleNewData(FuturePtr<std::vector<float>>::type fut);
    void on_showAllButton_clicked();
    void ExportAllToCsv();
    void ExportBetweenMarkersToCsv();

private:

    GraphWindow(ModbusMasterDatalink& datalink, Tolvaren::IoDirection dir, unsigned index,
                const QString& scalingText, bool live, QWidget* parent);

    void SetUp();
    void RequestChunk();
    void AddLiveChunk(const std::vector<float>& chunk);
    void AnchorLiveTimes(bool gap);
    void AddHistoricalChunk(const std::vector<float>& chunk);
    void FinishDownload();
    void ShowDownloadEnded();
    void ShowIfHidden();
    void ReportFailure(const std::exception& error);
    // A modal box parented on this window. False when the window was deleted while it was open.
    bool ShowBox(QMessageBox::Icon icon, const QString& text);
    DataPlotRenderer& Renderer() const;

    std::unique_ptr<Ui::GraphWindow> m_ui;
    const Tolvaren::IoDirection m_dir;
    const unsigned m_index;
    const QString m_scalingText;
    const bool m_live;
    QString m_unit;
    int m_pollIntervalMs = 150;
    int m_samplesReceived = 0;
    bool m_everShown = false;
    bool m_timeAnchored = false;
    QTimer m_pollTimer;

    // Destroyed in reverse order: the relay is closed first (in the destructor), so that the
    // delivery thread of m_then ends without waiting for the card; then the card access object
    // cancels the request still queued; last m_then joins its (finished) delivery threads.
    FutureThen m_then;
    std::unique_ptr<TolvarenCommsCommon> m_comms;
    // The chunk request outstanding, if any.
    std::shared_ptr<ReplyRelay<std::vector<float>>> m_relay;
};
