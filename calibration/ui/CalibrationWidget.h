#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QPointer>
#include <QString>
#include <QWidget>

#include <boost/thread/thread.hpp>

#include "calibration/CalibParams.h"

class ICardWindow;
class ModbusMasterDatalink;
class QCloseEvent;
class QLineEdit;
class QSlider;
class QTimer;

namespace Ui {
class CalibrationWidget;
}

// The top-level calibration window: edits the hardware parameters (on the calibration board's
// EEPROM for an Input Card, in the settings for an Output Card), drives the board by hand, sets
// the card's serial number, starts and cancels calibration runs, shows every reading as a
// discrepancy slider and keeps the time-stamped log (also appended, without the time, to the
// run's log file). Deletes itself when closed.
//
// Threads: everything runs in the user-interface thread. The run thread reaches the window only
// through the slots it invokes queued (AddLogLine, HandleNewCalibVal, the two finished slots) or
// blocking-queued (AwaitJumpersForCurrent, OutputCurrentCalibFailed); the window joins that
// thread before it goes away.
class CalibrationWidget : public QWidget
{
    Q_OBJECT

public:
    static constexpr int PointCount = 16;
    static constexpr int RefPointCount = 2;
    // How long closing the window waits for a cancelled run to end before it stays open.
    static constexpr int CloseWaitMs = 3000;
    static constexpr int CancelWaitMs = 100;

    // outputWindow null: an Input Card with the calibration board on COM<boardPort>, which the
    // window tests and loads the parameters from while it is built. Otherwise an Output Card on
    // outputWindow, measured by inputWindow's card; the board is not used.
    CalibrationWidget(ICardWindow& inputWindow, ICardWindow* outputWindow, int boardPort,
                      QWidget* parent = nullptr);
    ~CalibrationWidget() override;

    // The sleep every run started from now on is given (empty: the run's own).
    void SetRunSleep(std::function<void(int ms)> sleep) { m_runSleep = std::move(sleep); }

    bool IsOutputCardMode() const { return m_outputWindow != nullptr; }
    // A run has been started and has not yet finished or been cancelled.
    bool IsRunning() const { return m_running; }
    // Empty while no run log is active.
    const std::string& LogBasePath() const { return m_logBasePath; }
    unsigned LastSerialNumber() const { return m_lastSerialNumber; }
    const CalibParams& ConfirmedParams() const { return m_confirmedParams; }
    // Null for a path the window has no row for.
    QSlider* DiscrepancySlider(int path, int ioPointIndex, int refPoint) const;

    // The parameters in the fields (only the four references in Output Card mode, the rest 0).
    // With reportInvalid an unparsable field is reported and nothing is returned; without it
    // the field counts as 0.
    std::optional<CalibParams> ParamsFromUi(bool reportInvalid);
    void ShowParams(const CalibParams& params);
    void LoadParamsFromBoard();
    void StoreParamsToBoard();
    void ResetBoardEeprom();
    // Serial number and log file of a run about to start; false (reported) when it must not.
    bool PrepareLogFile();

public slots:
    void on_showOutputCardWindowButton_pressed();
    void on_showInputCardWindowButton_pressed();
    void on_directControlButton_toggled();
    void UpdateDirectControlFromUi();
    void AddLogLine(QString line);
    void on_loadParamsButton_pressed();
    void on_storeParamsButton_pressed();
    void on_paramsToDefaultsButton_pressed();
    void on_serialNumberButton_clicked();
    void on_calibrateButton_pressed();
    void on_cancelCalibrateButton_pressed();
    void CalibrationFinishedWithSuccess();
    void CalibrationFinishedWithError(QString errorMsg);
    // Blocking prompts of an Output Card run; true when the operator pressed Ok. A run being
    // cancelled gets false without asking.
    bool AwaitJumpersForCurrent();
    bool OutputCurrentCalibFailed(QString errorMsg);
    void HandleNewCalibVal(int path, int ioPointIndex, int refPoint, double theoreticalVal,
                           double rawVal);

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void CheckCancelledRunEnded();

private:
    using SliderRow = std::array<std::array<QSlider*, RefPointCount>, PointCount>;

    void CreateDiscrepancySliders();
    void ResetDiscrepancySliders();
    void TestBoard();
    void LoadSettings();
    void StoreSettings();
    void UpdateCalibrateButton();
    void ReturnToIdle();
    // Interrupts the run thread and waits up to waitMs (negative: without limit) for it to end,
    // answering its pending calls meanwhile; true when it has ended.
    bool StopRunThread(int waitMs);
    // The window of the card under test and the link to it; null when that window is gone.
    ICardWindow* CardUnderTestWindow() const;
    ICardWindow* InputWindow() const;
    ICardWindow* OutputWindow() const;
    QLineEdit* ParamEdit(std::size_t field) const;

    std::unique_ptr<Ui::CalibrationWidget> m_ui;
    ICardWindow* m_inputWindow;
    ICardWindow* m_outputWindow;
    // The windows may be closed and deleted while this one is open.
    QPointer<QWidget> m_inputWidget;
    QPointer<QWidget> m_outputWidget;
    int m_boardPort;
    CalibParams m_confirmedParams;
    CalibParams m_runParams;
    unsigned m_allowedJitterVR = 0;
    unsigned m_allowedJitterI = 0;
    unsigned m_lastSerialNumber = 0;
    std::string m_logBasePath;
    // The log file failed in this run: its lines go to the pane only.
    bool m_logFileFailed = false;
    std::array<SliderRow, 4> m_sliders{};
    int m_sliderRows = 0;
    std::function<void(int ms)> m_runSleep;
    boost::thread m_runThread;
    bool m_running = false;
    bool m_cancelRequested = false;
    QTimer* m_cancelWatch = nullptr;
};
