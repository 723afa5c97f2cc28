#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <QJsonObject>
#include <QMainWindow>
#include <QPoint>
#include <QSize>
#include <QString>

#include <boost/shared_ptr.hpp>

#include "async/FuturePtr.h"
#include "calibration/ui/ICardWindow.h"
#include "comms/IAutoReconnectSerialCommsFeedback.h"

class AutoReconnectSerialComms;
class FutureThen;
class ModbusMasterDatalink;
class QTimer;
class SerialPortOptionsWidget;
class TolvarenCardWidget;
class TolvarenSnapshotGatherer;
struct TolvarenSnapshot;

namespace Ui {
class TolvarenDiagnosticsClass;
}

// The program's top-level window and the owner of the connection to one card: the serial comms,
// the Modbus datalink on them and, while a card answers, a snapshot gatherer. It shows either the
// idle face (title, status line, port options, "Simulate card") or the card face, and a
// single-shot poll timer drives the switch between them: each expiry starts at most one
// gathering, and the next poll is armed only when that gathering has ended.
//
// Threads: the window lives in the user-interface thread. The IAutoReconnectSerialCommsFeedback
// callbacks arrive on the comms' threads and only queue calls into the window; the gatherer's
// gathering-occurring callback arrives on its worker and is re-posted the same way; gathering
// results are delivered to HandleSnapshotGathered in the user-interface thread.
class TolvarenDiagnostics : public QMainWindow,
                            public IAutoReconnectSerialCommsFeedback,
                            public ICardWindow
{
    Q_OBJECT

public:
    // The EEPROM wipe gives up at this address if the card has refused none before it: well past
    // any card's EEPROM, so that a card or link that never refuses cannot keep the window busy
    // for ever.
    static constexpr std::uint32_t eeWipeAddressBound = 1u << 20;

    // settingsGroup: the group of this window's keys in the settings store ("MainWindow", or
    // "OutputWindow" for a second window). flags are combined with the maximize and close hints.
    TolvarenDiagnostics(QString settingsGroup, QWidget* parent = nullptr,
                        Qt::WindowFlags flags = Qt::WindowFlags());
    ~TolvarenDiagnostics() override;

    // Comms threads.
    void OnCommsUp(int currCommPort) override;
    void OnCommsDown(int previousCommPort, const std::string& reasonMsg) override;
    void HandleIrrecoverableCommsError(const std::string& msg) override;

    // The card face, or null while the idle face is shown.
    TolvarenCardWidget* CardWidget() const { return m_cardWidget; }
    QString StatusText() const;
    QString StatusToolTip() const;
    boost::shared_ptr<AutoReconnectSerialComms> Comms() const { return m_comms; }
    ModbusMasterDatalink* Datalink() const { return m_datalink.get(); }
    TolvarenSnapshotGatherer* Gatherer() const { return m_gatherer.get(); }

    // ICardWindow, for the calibration windows.
    QWidget* CardWindowWidget() override { return this; }
    ModbusMasterDatalink* CardDatalink() override { return m_datalink.get(); }
    int ConfiguredCommPort() const override;

signals:
    // The status line of the idle face was (re)written.
    void StatusTextChanged(QString text);
    // A new card face was built from a full gathering and shown.
    void CardFaceCreated();
    // The card face was refreshed from an incremental gathering.
    void CardFaceRefreshed();
    // A poll found the window hidden or minimized and read nothing.
    void PollSkippedWhileHidden();

public slots:
    // Re-reads the whole card and builds a new card face; nothing happens on the idle face.
    void RefreshEverything() override;
    // Writes the card's configuration summary to a CSV file the user chooses. Unless the card
    // face was just built from a full gathering, the card is re-read first and the export runs
    // once the new card face is shown.
    void ExportToCsv();
    // Reads point labels, part numbers and notes from a CSV file the user chooses, has the user
    // confirm them, writes them to the card and re-reads the card.
    void ImportFromCsv();

private slots:
    void HandleIrrecoverableCommsErrorImpl(QString msg);
    void OnCommsUpImpl(int currCommPort);
    void OnCommsDownImpl(int previousCommPort, QString reasonMsg);
    void PollCard();
    void HandleSnapshotGathered(FuturePtr<void>::type fut);
    void on_simulateInputCardButton_clicked();
    // Back to the idle face. errorCode selects the status text: 1 waiting for the card,
    // -1 firmware too old, -2 firmware too new, anything else an invalid response.
    void ResetToBeginning(bool forceFullReset, int errorCode);
    void ResetToBeginning(bool forceFullReset);
    void ResetToBeginning();
    void CreateCardWidget();
    // Any thread; re-posts itself into the window's thread.
    void GatheringOccurringCallback();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void LoadSettings();
    void SaveSettings();
    // Deletes the central widget (either face) and what the style cached for it.
    void DeleteFace();
    void SetStatusText(int errorCode);
    void ShowStatus(const QString& text);
    // The size of the first card face when none has been saved: wide enough that its rows need
    // no sideways scrolling, within the screen.
    QSize FirstCardFaceSize();
    void KeepAsFound(const TolvarenSnapshot& snapshot);
    // Moves the window to the saved position, or centres it, and remembers where it went.
    void PlaceWindow();
    // The window's position as it is to be saved.
    QPoint PositionToKeep() const;
    void CentreWindow();
    // Takes back the busy cursor of RefreshEverything, if it is shown.
    void RestoreBusyCursor();
    // The status line during a card's first gathering, with the share of it done.
    void ShowGatheringProgress(int percent);
    void PostResetToBeginning(bool forceFullReset, int errorCode);

    // The factory service functions, opened by typing their codes (ServiceKeyRing).
    void RunService(int service);
    // Raises the calibration window if one is open; only for a manually chosen port.
    void RunCalibrationEntry();
    void ShowCardBuildDate();
    void ShowNamedVariables();
    // Fills the card's EEPROM with 0xFF in 128-byte writes until the card refuses an address or
    // the user cancels, then restarts the card and re-reads it.
    void WipeEeprom();

    QString m_settingsGroup;
    int m_preferredPort = 0;
    QPoint m_savedPos;
    QSize m_savedSize;
    int m_savedScrollHorizontal = 0;
    int m_savedScrollVertical = 0;
    int m_savedCardType = 0;
    std::unique_ptr<Ui::TolvarenDiagnosticsClass> m_ui;
    QString m_lastErrorText;
    SerialPortOptionsWidget* m_optionsWidget = nullptr;
    boost::shared_ptr<AutoReconnectSerialComms> m_comms;
    std::unique_ptr<ModbusMasterDatalink> m_datalink;
    std::unique_ptr<TolvarenSnapshotGatherer> m_gatherer;
    // The card as found, for the card report: see KeepAsFound.
    QJsonObject m_asFound;
    QString m_asFoundSource;
    TolvarenCardWidget* m_cardWidget = nullptr;
    std::unique_ptr<FutureThen> m_then;
    std::unique_ptr<QTimer> m_pollTimer;
    bool m_exportPending = false;
    // A gathering has been started and its result has not been handled yet. No other gathering
    // starts meanwhile, even when the gatherer it belongs to has been dropped.
    bool m_gatheringPending = false;
    bool m_busyCursorShown = false;
    // Set while the EEPROM wipe runs: polls read nothing meanwhile.
    bool m_pollingPaused = false;
    // Where PlaceWindow last put the window.
    bool m_placed = false;
    QPoint m_placedPos;
};
