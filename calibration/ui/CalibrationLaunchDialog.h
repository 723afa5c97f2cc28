#pragma once

#include <functional>
#include <memory>

#include <QDialog>

class ICardWindow;

namespace Ui {
class CalibrationLaunchDialog;
}

// Chooses what to calibrate: an Input Card with the calibration board on its own COM port, or an
// Output Card measured by the main window's Input Card and reached through a second main window.
// Next opens the calibration window and accepts the dialog.
//
// Threads: the user-interface thread.
class CalibrationLaunchDialog : public QDialog
{
    Q_OBJECT

public:
    // makeOutputWindow creates (and owns elsewhere) the second main window of an Output Card
    // run; it is called only when Next is pressed with the Output Card chosen.
    CalibrationLaunchDialog(ICardWindow& mainWindow, std::function<ICardWindow*()> makeOutputWindow,
                            QWidget* parent = nullptr);
    ~CalibrationLaunchDialog() override;

    // The calibration window Next opened (top-level, deletes itself when closed); null before.
    QWidget* OpenedWindow() const { return m_openedWindow; }

private slots:
    void on_browseForPortButton_pressed();
    void on_testCalibCommsButton_pressed();
    void on_calibInputCardRadio_toggled(bool val);
    void on_nextButton_pressed();

private:
    std::unique_ptr<Ui::CalibrationLaunchDialog> m_ui;
    ICardWindow& m_mainWindow;
    std::function<ICardWindow*()> m_makeOutputWindow;
    QWidget* m_openedWindow = nullptr;
};

// The calibration entry of a main window: runs the launch dialog modally; true when it was
// accepted (a calibration window is then open and the main window may hide itself).
bool RunCalibrationLaunch(ICardWindow& mainWindow, std::function<ICardWindow*()> makeOutputWindow);
