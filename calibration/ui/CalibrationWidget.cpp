#include "calibration/ui/CalibrationWidget.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollBar>
#include <QSettings>
#include <QSlider>
#include <QTime>
#include <QTimer>

#include <boost/chrono.hpp>
#include <boost/throw_exception.hpp>

#include "calibration/CalibBoard.h"
#include "calibration/CalibBoardCommands.h"
#include "calibration/CalibBoardParams.h"
#include "calibration/CalibSettingsKeys.h"
#include "calibration/CalibrationRun.h"
#include "calibration/ui/ICardWindow.h"
#include "comms/ExceptionWithString.h"
#include "modbus/ModbusMaster.h"
#include "protocol/FileWriteError.h"
#include "protocol/LineFileWriter.h"
#include "ui_CalibrationWidget.h"
#include "widgets/ScrollFollower.h"
#include "widgets/ValueFromUserDlg.h"
#include "widgets/WaitCursor.h"

namespace {

const unsigned short serialNumberRegister = 900;      // input register
const unsigned short setSerialNumberRegister = 65432; // holding register
const std::size_t outputCardFieldCount = 4;           // the four references

const char* const pathLabels[] = {
    "Voltage path:", "Current path:", "Resistance-Low path:", "Resistance-High path:"};

const char* const handleGray = "QSlider::handle:vertical {background: gray}";
const char* const handleGreen = "QSlider::handle:vertical {background: green}";
const char* const handleOrange = "QSlider::handle:vertical {background: orange}";
const char* const handleRed = "QSlider::handle:vertical {background: red}";

void Inform(const QString& text)
{
    QMessageBox::information(nullptr, QString(), text);
}

bool AskYesNo(const QString& text)
{
    return QMessageBox::information(nullptr, QString(), text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

bool AskOkCancel(const QString& text)
{
    return QMessageBox::information(nullptr, QString(), text,
                                    QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

unsigned JitterFromText(const QString& text)
{
    return text.trimmed().toUInt(nullptr, 10); // 0 when it does not parse
}

ModbusMasterDatalink& LinkOf(ICardWindow* window)
{
    ModbusMasterDatalink* link = window ? window->CardDatalink() : nullptr;
    if (!link)
        boost::throw_exception(ExceptionWithString("the card's window has been closed"));
    return *link;
}

} // namespace

CalibrationWidget::CalibrationWidget(ICardWindow& inputWindow, ICardWindow* outputWindow,
                                     int boardPort, QWidget* parent)
    : QWidget(parent, Qt::Window), m_ui(new Ui::CalibrationWidget), m_inputWindow(&inputWindow),
      m_outputWindow(outputWindow), m_inputWidget(inputWindow.CardWindowWidget()),
      m_outputWidget(outputWindow ? outputWindow->CardWindowWidget() : nullptr),
      m_boardPort(boardPort), m_cancelWatch(new QTimer(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    m_ui->setupUi(this);
    resize(1024, 700);

    // "Lucida Console" is not on every system: any fixed-pitch font keeps the tables lined up.
    QFont logFont(QStringLiteral("Lucida Console"));
    logFont.setStyleHint(QFont::TypeWriter);
    logFont.setFixedPitch(true);
    m_ui->logWidget->setFont(logFont);
    m_ui->logWidget->setTabStopDistance(1);
    // The newest line stays in view ("Calibration SUCCESS" among them) unless the technician
    // has scrolled up to read an earlier one.
    new ScrollFollower(m_ui->logWidget->verticalScrollBar());

    m_ui->cancelCalibrateButton->hide();
    m_ui->directControlGroupBox->hide();
    m_ui->showOutputCardWindowButton->setVisible(IsOutputCardMode());

    // A radio emits toggled twice when the choice moves (off, then on); the board is set once.
    for (QRadioButton* radio : {m_ui->radioVoltage, m_ui->radioCurrent, m_ui->radioResLowRange,
                                m_ui->radioResHighRange, m_ui->radioA, m_ui->radioB}) {
        connect(radio, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                UpdateDirectControlFromUi();
        });
    }
    for (QCheckBox* box : {m_ui->checkOhms0, m_ui->checkOhms1, m_ui->checkOhms2, m_ui->checkOhms3})
        connect(box, &QCheckBox::toggled, this, &CalibrationWidget::UpdateDirectControlFromUi);
    connect(m_ui->comboInputNumber, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &CalibrationWidget::UpdateDirectControlFromUi);

    m_cancelWatch->setInterval(50);
    connect(m_cancelWatch, &QTimer::timeout, this, &CalibrationWidget::CheckCancelledRunEnded);

    CreateDiscrepancySliders();
    LoadSettings();
    if (IsOutputCardMode()) {
        m_ui->inputOnlyParamsWidget->hide();
        m_ui->directControlButton->hide();
    } else {
        TestBoard();
        LoadParamsFromBoard();
    }
}

CalibrationWidget::~CalibrationWidget()
{
    // The run invokes this window's slots until it ends.
    StopRunThread(-1);
}

QLineEdit* CalibrationWidget::ParamEdit(std::size_t field) const
{
    return findChild<QLineEdit*>(QString::fromLatin1(CalibParams::Fields()[field].lineEdit));
}

ICardWindow* CalibrationWidget::InputWindow() const
{
    return m_inputWidget ? m_inputWindow : nullptr;
}

ICardWindow* CalibrationWidget::OutputWindow() const
{
    return m_outputWidget ? m_outputWindow : nullptr;
}

ICardWindow* CalibrationWidget::CardUnderTestWindow() const
{
    return IsOutputCardMode() ? OutputWindow() : InputWindow();
}

void CalibrationWidget::LoadSettings()
{
    using namespace CalibSettingsKeys;
    QSettings settings;
    m_ui->logDirectoryEdit->setText(Read(settings, LogDirectory).toString());
    m_ui->overwriteLogsCheckbox->setChecked(Read(settings, OverwiteLogs).toBool());
    if (IsOutputCardMode()) {
        for (std::size_t i = 0; i < OutputParamKeys.size(); ++i)
            ParamEdit(i)->setText(Read(settings, OutputParamKeys[i]).toString());
        m_ui->allowJitterVREdit->setText(Read(settings, OutputAllowJitterVR).toString());
        m_ui->allowJitterIEdit->setText(Read(settings, OutputAllowJitterI).toString());
    } else {
        m_ui->allowJitterVREdit->setText(Read(settings, InputAllowJitterVR).toString());
        m_ui->allowJitterIEdit->setText(Read(settings, InputAllowJitterI).toString());
    }
}

void CalibrationWidget::StoreSettings()
{
    using namespace CalibSettingsKeys;
    QSettings settings;
    settings.setValue(LogDirectory, m_ui->logDirectoryEdit->text());
    settings.setValue(OverwiteLogs, m_ui->overwriteLogsCheckbox->isChecked());
    if (IsOutputCardMode()) {
        for (std::size_t i = 0; i < OutputParamKeys.size(); ++i)
            settings.setValue(OutputParamKeys[i], ParamEdit(i)->text());
        settings.setValue(OutputAllowJitterVR, m_ui->allowJitterVREdit->text());
        settings.setValue(OutputAllowJitterI, m_ui->allowJitterIEdit->text());
    } else {
        settings.setValue(InputAllowJitterVR, m_ui->allowJitterVREdit->text());
        settings.setValue(InputAllowJitterI, m_ui->allowJitterIEdit->text());
    }
}

// ---- discrepancy sliders ----

void CalibrationWidget::CreateDiscrepancySliders()
{
    QWidget* area = m_ui->discrepanciesWidget;
    // The area has not been laid out yet while the window is built: its minimum size is the
    // size it gets at least.
    const int width = std::max(area->width(), area->minimumWidth());
    const int height = std::max(area->height(), area->minimumHeight());
    m_sliderRows = IsOutputCardMode() ? 2 : 4;
    for (int path = 0; path < m_sliderRows; ++path) {
        const int y = path * height / 4;
        auto* pathLabel = new QLabel(QString::fromLatin1(pathLabels[path]), area);
        // 120 pixels, or wider where the font needs it ("Resistance-High path:" is cut off in
        // many fonts): the first three columns carry no number, so the label may take them.
        const int labelWidth =
            std::min(std::max(120, pathLabel->sizeHint().width()), 3 * width / PointCount);
        pathLabel->setGeometry(0, y, labelWidth, 20);
        pathLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        for (int i = 0; i < PointCount; ++i) {
            const int x = i * width / PointCount;
            for (int ref = 0; ref < RefPointCount; ++ref) {
                auto* slider = new QSlider(Qt::Vertical, area);
                slider->setGeometry(x + 20 * ref, y + 20, 16, height / 4 - 11 - 20);
                slider->setRange(-10, 10);
                slider->setTickPosition(QSlider::TicksBothSides);
                slider->setEnabled(false);
                slider->setStyleSheet(QString::fromLatin1(handleGray));
                m_sliders[path][i][ref] = slider;
            }
            if (i >= 3) { // the path label covers the first three columns
                auto* number = new QLabel(QString::number(i + 1), area);
                number->setFrameStyle(QFrame::Panel | QFrame::Sunken);
                number->setAlignment(Qt::AlignCenter);
                number->setGeometry(x, y, 36, 20);
            }
        }
    }
    ResetDiscrepancySliders();
}

void CalibrationWidget::ResetDiscrepancySliders()
{
    for (int path = 0; path < m_sliderRows; ++path) {
        for (auto& point : m_sliders[path]) {
            for (QSlider* slider : point) {
                slider->setValue(0);
                slider->setToolTip(QStringLiteral("Not calibrated"));
                slider->hide();
            }
        }
    }
}

QSlider* CalibrationWidget::DiscrepancySlider(int path, int ioPointIndex, int refPoint) const
{
    if (path < 0 || path >= m_sliderRows || ioPointIndex < 0 || ioPointIndex >= PointCount ||
        refPoint < 0 || refPoint >= RefPointCount)
        return nullptr;
    return m_sliders[path][ioPointIndex][refPoint];
}

void CalibrationWidget::HandleNewCalibVal(int path, int ioPointIndex, int refPoint,
                                          double theoreticalVal, double rawVal)
{
    QSlider* slider = DiscrepancySlider(path, ioPointIndex, refPoint);
    if (!slider)
        return; // a reading for no row shown here
    const double d = rawVal - theoreticalVal;
    // Limited before the conversion: a wild reading must not overflow the int.
    const double rounded = std::floor(d + 0.5);
    slider->setValue(std::isnan(rounded) ? 0 : static_cast<int>(std::clamp(rounded, -10.0, 10.0)));
    slider->setToolTip(QStringLiteral("Raw ADC val read: %1\nTheoretical val: %2\nDiscrepancy: %3")
                           .arg(rawVal, 0, 'f', 1)
                           .arg(theoreticalVal, 0, 'f', 1)
                           .arg(d, 0, 'f', 1));
    // A reading far below the theory is as bad as one far above it.
    const double size = std::fabs(d);
    const char* style = size <= 7 ? handleGreen : size < 10 ? handleOrange : handleRed;
    slider->setStyleSheet(QString::fromLatin1(style));
    slider->show();
}

// ---- log ----

void CalibrationWidget::AddLogLine(QString line)
{
    m_ui->logWidget->appendPlainText(QTime::currentTime().toString() + QStringLiteral(": ") + line);
    if (m_logBasePath.empty())
        return;
    if (m_logFileFailed)
        return;
    // Opened and closed for every line, so the file is complete whenever the run stops. After a
    // failure the file keeps its whole lines and the rest stays in the pane, said once.
    try {
        LineFileWriter file(QString::fromStdString(m_logBasePath) + QStringLiteral(".txt"),
                            LineFileWriter::Append);
        file.Write(line.toUtf8() + '\n');
    } catch (const FileWriteError& e) {
        m_logFileFailed = true;
        m_ui->logWidget->appendPlainText(QTime::currentTime().toString() + QStringLiteral(": ") +
                                         QString::fromUtf8(e.what()) +
                                         QStringLiteral(" (the log goes on here only)"));
    }
}

// ---- parameters ----

std::optional<CalibParams> CalibrationWidget::ParamsFromUi(bool reportInvalid)
{
    CalibParams params;
    const std::size_t count = IsOutputCardMode() ? outputCardFieldCount : CalibParams::FieldCount;
    bool allValid = true;
    for (std::size_t i = 0; i < count; ++i) {
        bool ok = false;
        const double value = ParamEdit(i)->text().toDouble(&ok); // C locale, whatever the user's
        params.*CalibParams::Fields()[i].value = ok ? value : 0.0;
        allValid = allValid && ok;
    }
    if (!allValid && reportInvalid) {
        QMessageBox::information(nullptr, QString(),
                                 QStringLiteral("One or more paramaters have an invalid value"),
                                 QMessageBox::Ok);
        return std::nullopt;
    }
    return params;
}

void CalibrationWidget::ShowParams(const CalibParams& params)
{
    for (std::size_t i = 0; i < CalibParams::FieldCount; ++i) {
        const CalibParams::Field& field = CalibParams::Fields()[i];
        ParamEdit(i)->setText(QString::number(params.*field.value, 'f', field.decimals));
    }
}

void CalibrationWidget::TestBoard()
{
    try {
        WaitCursor busy;
        CalibBoard board(m_boardPort);
        board.Link().Transact(CalibBoardCommands::Ping);
        if (board.GetVersion() != CalibBoardCommands::ExpectedVersion)
            boost::throw_exception(ExceptionWithString(
                "version number of calibration board software is not the expected value. "
                "Anything could happen. Use at own risk."));
    } catch (const std::exception& e) {
        Inform(QStringLiteral("Calibration-board comms problem: ") +
               QString::fromStdString(e.what()));
    }
}

void CalibrationWidget::LoadParamsFromBoard()
{
    std::optional<CalibParams> loaded;
    try {
        WaitCursor busy;
        loaded = CalibBoardParams::LoadParamsFromBoard(m_boardPort);
    } catch (const std::exception& e) {
        Inform(QStringLiteral("Problem accessing params stored inside calibration-board EE: ") +
               QString::fromStdString(e.what()));
        return;
    }
    if (!loaded) {
        AddLogLine(QStringLiteral("Calib params NOT PRESENT inside PIC EEPROM."));
        return;
    }
    m_confirmedParams = *loaded;
    ShowParams(m_confirmedParams);
}

void CalibrationWidget::StoreParamsToBoard()
{
    const Qt::KeyboardModifiers both = Qt::ShiftModifier | Qt::ControlModifier;
    if ((QGuiApplication::keyboardModifiers() & both) == both) {
        ResetBoardEeprom();
        return;
    }
    const std::optional<CalibParams> params = ParamsFromUi(true);
    if (!params)
        return;
    try {
        WaitCursor busy;
        m_confirmedParams = CalibBoardParams::StoreParamsToBoard(m_boardPort, *params);
    } catch (const std::exception& e) {
        // The fields keep what the operator typed, so nothing of it is lost.
        Inform(QStringLiteral("Calibration-board comms problem: ") +
               QString::fromStdString(e.what()));
        return;
    }
    ShowParams(m_confirmedParams);
    Inform(QStringLiteral("Paramaters successfully stored into PIC."));
}

void CalibrationWidget::ResetBoardEeprom()
{
    try {
        WaitCursor busy;
        CalibBoardParams::ResetBoardEeprom(m_boardPort);
    } catch (const std::exception& e) {
        Inform(QStringLiteral("Calibration-board comms problem: ") +
               QString::fromStdString(e.what()));
        return;
    }
    // The board holds no parameters now; values still in the fields count as unsaved.
    m_confirmedParams = CalibParams();
    Inform(QStringLiteral("EEPROM reset to FF everywhere."));
}

void CalibrationWidget::on_loadParamsButton_pressed()
{
    LoadParamsFromBoard();
}

void CalibrationWidget::on_storeParamsButton_pressed()
{
    StoreParamsToBoard();
}

void CalibrationWidget::on_paramsToDefaultsButton_pressed()
{
    if (AskYesNo(QStringLiteral("Reset all parameters to default values?")))
        ShowParams(CalibParams::Defaults());
}

// ---- direct control, windows, serial number ----

void CalibrationWidget::on_directControlButton_toggled()
{
    if (m_ui->directControlButton->isChecked()) {
        m_ui->directControlGroupBox->show();
        UpdateCalibrateButton();
        UpdateDirectControlFromUi();
    } else {
        m_ui->directControlGroupBox->hide();
        UpdateCalibrateButton();
    }
}

void CalibrationWidget::UpdateCalibrateButton()
{
    // Never enabled while a run goes or the board is driven by hand.
    m_ui->calibrateButton->setEnabled(!m_running && !m_ui->directControlButton->isChecked());
}

void CalibrationWidget::UpdateDirectControlFromUi()
{
    // The controls only matter while direct control is on.
    if (!m_ui->directControlButton->isChecked())
        return;
    const unsigned input = static_cast<unsigned>(m_ui->comboInputNumber->currentIndex());
    const unsigned reference = m_ui->radioA->isChecked()   ? CalibBoardCommands::SelectReferenceA
                               : m_ui->radioB->isChecked() ? CalibBoardCommands::SelectReferenceB
                                                           : CalibBoardCommands::SelectNone;
    unsigned resistors = 0;
    if (m_ui->checkOhms0->isChecked())
        resistors |= CalibBoardCommands::LowerOhmsA;
    if (m_ui->checkOhms1->isChecked())
        resistors |= CalibBoardCommands::LowerOhmsB;
    if (m_ui->checkOhms2->isChecked())
        resistors |= CalibBoardCommands::UpperOhmsA;
    if (m_ui->checkOhms3->isChecked())
        resistors |= CalibBoardCommands::UpperOhmsB;

    int path = -1;
    unsigned selection = 0;
    if (m_ui->radioVoltage->isChecked())
        path = 0, selection = reference;
    else if (m_ui->radioCurrent->isChecked())
        path = 1, selection = reference;
    else if (m_ui->radioResLowRange->isChecked())
        path = 2, selection = resistors;
    else if (m_ui->radioResHighRange->isChecked())
        path = 3, selection = resistors;
    if (path < 0) {
        Inform(QStringLiteral("Invalid selection"));
        return;
    }
    try {
        WaitCursor busy;
        CalibBoard board(m_boardPort);
        board.SetConfig(input, CalibBoardCommands::PathCode(path), selection);
    } catch (const std::exception& e) {
        Inform(QString::fromStdString(e.what()));
        return;
    }
    AddLogLine(QStringLiteral("Calibration config set manually"));
}

void CalibrationWidget::on_showInputCardWindowButton_pressed()
{
    if (m_inputWidget) {
        m_inputWidget->show();
        m_inputWidget->raise();
    }
}

void CalibrationWidget::on_showOutputCardWindowButton_pressed()
{
    if (m_outputWidget) {
        m_outputWidget->show();
        m_outputWidget->raise();
    }
}

void CalibrationWidget::on_serialNumberButton_clicked()
{
    try {
        ICardWindow* card = CardUnderTestWindow();
        ModbusMaster master(LinkOf(card));
        unsigned value = 0;
        {
            WaitCursor busy;
            value = master.ReadInputRegister(serialNumberRegister).get();
        }
        if (!GetUIntFromUser(QStringLiteral("Enter serial number:"), value, this))
            return;
        if (value > 65535) {
            Inform(QStringLiteral("Serial number must be <= 65535."));
            return;
        }
        {
            WaitCursor busy;
            master.WriteRegisterUInt16(setSerialNumberRegister, static_cast<unsigned short>(value))
                .get();
        }
        m_lastSerialNumber = value;
    } catch (const std::exception& e) {
        Inform(QStringLiteral("Problem getting/setting card serial number: ") +
               QString::fromStdString(e.what()));
        return;
    }
    if (ICardWindow* input = InputWindow())
        input->RefreshEverything();
    if (ICardWindow* output = OutputWindow())
        output->RefreshEverything();
}

// ---- runs ----

bool CalibrationWidget::PrepareLogFile()
{
    try {
        ModbusMaster master(LinkOf(CardUnderTestWindow()));
        unsigned serial = 0;
        {
            WaitCursor busy;
            serial = master.ReadInputRegister(serialNumberRegister).get();
        }
        if (serial != 0) {
            m_lastSerialNumber = serial;
        } else if (QMessageBox::question(
                       nullptr, QString(),
                       QStringLiteral("Serial Number in card is not set. Set now?"),
                       QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
            unsigned value = m_lastSerialNumber + 1;
            if (!GetUIntFromUser(QStringLiteral("Enter serial number:"), value, this))
                return false;
            if (value > 65535) {
                Inform(QStringLiteral("Serial number must be <= 65535."));
                return false;
            }
            {
                WaitCursor busy;
                master
                    .WriteRegisterUInt16(setSerialNumberRegister,
                                         static_cast<unsigned short>(value))
                    .get();
            }
            serial = value;
            m_lastSerialNumber = value;
        }

        const QString directory = m_ui->logDirectoryEdit->text();
        if (directory.isEmpty() || !QDir().mkpath(directory))
            boost::throw_exception(ExceptionWithString("cannot create the log directory \"" +
                                                       directory.toStdString() + "\""));
        const QString basePath = directory + QLatin1Char('/') +
                                 QStringLiteral("%1").arg(serial, 5, 10, QLatin1Char('0'));
        const QString logPath = basePath + QStringLiteral(".txt");
        if (QFile::exists(logPath)) {
            if (!m_ui->overwriteLogsCheckbox->isChecked()) {
                Inform(QStringLiteral("Log file already exists. Remove or rename."));
                return false;
            }
            QFile old(logPath);
            if (!old.remove())
                boost::throw_exception(ExceptionWithString("cannot delete " +
                                                           logPath.toStdString() + ": " +
                                                           old.errorString().toStdString()));
        }
        m_logBasePath = basePath.toUtf8().toStdString();
        m_logFileFailed = false;
    } catch (const std::exception& e) {
        Inform(QStringLiteral("Problem getting/setting card serial number for log file: ") +
               QString::fromStdString(e.what()));
        return false;
    }
    return true;
}

void CalibrationWidget::on_calibrateButton_pressed()
{
    if (m_running)
        return;
    if (m_runThread.joinable() && !m_runThread.try_join_for(boost::chrono::milliseconds(10))) {
        Inform(QStringLiteral("Previous calib thread still running (unexpectedly)."));
        return;
    }
    const std::optional<CalibParams> params = ParamsFromUi(true);
    if (!params)
        return;
    m_runParams = *params;
    m_allowedJitterVR = JitterFromText(m_ui->allowJitterVREdit->text());
    m_allowedJitterI = JitterFromText(m_ui->allowJitterIEdit->text());
    if (!PrepareLogFile())
        return;

    m_ui->logWidget->clear();
    m_running = true;
    m_cancelRequested = false;
    UpdateCalibrateButton();
    m_ui->cancelCalibrateButton->show();
    ResetDiscrepancySliders();

    CalibrationRunInputs inputs;
    inputs.outputCard = IsOutputCardMode();
    inputs.params = m_runParams;
    inputs.allowedJitterVR = m_allowedJitterVR;
    inputs.allowedJitterI = m_allowedJitterI;
    inputs.boardPort = m_boardPort;
    inputs.logBasePath = m_logBasePath;
    inputs.inputCardLink = InputWindow() ? InputWindow()->CardDatalink() : nullptr;
    inputs.outputCardLink = OutputWindow() ? OutputWindow()->CardDatalink() : nullptr;
    inputs.sleep = m_runSleep;
    m_runThread = StartCalibrationRun(inputs, this);
}

bool CalibrationWidget::StopRunThread(int waitMs)
{
    if (!m_runThread.joinable())
        return true;
    m_cancelRequested = true;
    m_runThread.interrupt();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (m_runThread.try_join_for(boost::chrono::milliseconds(10)))
            return true;
        // A run blocked in a prompt or waiting to report cannot end until its call is answered
        // (a cancelled run's prompts answer false at once).
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
        if (waitMs >= 0 && std::chrono::steady_clock::now() >= deadline)
            return !m_runThread.joinable();
    }
}

void CalibrationWidget::on_cancelCalibrateButton_pressed()
{
    if (!m_running)
        return;
    if (!StopRunThread(CancelWaitMs)) {
        AddLogLine(QStringLiteral("Calibration cancel not immediately successful."));
        m_cancelWatch->start(); // back to idle once the run has ended
        return;
    }
    AddLogLine(QStringLiteral("Calibration process cancelled"));
    ReturnToIdle();
}

void CalibrationWidget::CheckCancelledRunEnded()
{
    if (m_runThread.joinable() && !m_runThread.try_join_for(boost::chrono::milliseconds(0)))
        return;
    m_cancelWatch->stop();
    if (!m_running)
        return;
    AddLogLine(QStringLiteral("Calibration process cancelled"));
    ReturnToIdle();
}

void CalibrationWidget::ReturnToIdle()
{
    m_running = false;
    m_cancelWatch->stop();
    UpdateCalibrateButton();
    m_ui->calibrateButton->setFocus();
    m_ui->cancelCalibrateButton->hide();
}

void CalibrationWidget::CalibrationFinishedWithSuccess()
{
    if (!m_running || m_cancelRequested)
        return; // the run was cancelled; its late report changes nothing
    AddLogLine(QStringLiteral("Calibration SUCCESS"));
    ReturnToIdle();
    m_logBasePath.clear();
}

void CalibrationWidget::CalibrationFinishedWithError(QString errorMsg)
{
    if (!m_running || m_cancelRequested)
        return;
    const QString text = QStringLiteral("Error occurred during calibration: ") + errorMsg;
    AddLogLine(text);
    QMessageBox::warning(this, QString(), text);
    ReturnToIdle();
    if (!m_logBasePath.empty())
        QFile::remove(QString::fromStdString(m_logBasePath) + QStringLiteral(".txt"));
    m_logBasePath.clear();
}

bool CalibrationWidget::AwaitJumpersForCurrent()
{
    if (m_cancelRequested)
        return false;
    return AskOkCancel(QStringLiteral("Attach jumpers on both cards for current generation / "
                                      "measurement. Press Ok when this has been done."));
}

bool CalibrationWidget::OutputCurrentCalibFailed(QString errorMsg)
{
    if (m_cancelRequested)
        return false;
    return AskOkCancel(QStringLiteral("Current calibration failed: ") + errorMsg +
                       QStringLiteral("\n\nRetry? (possibly after fixing the jumpers)"));
}

void CalibrationWidget::closeEvent(QCloseEvent* event)
{
    StoreSettings();
    if (!IsOutputCardMode()) {
        const std::optional<CalibParams> shown = ParamsFromUi(false);
        if (!shown->SameBytesAs(m_confirmedParams) &&
            AskYesNo(QStringLiteral("Parameter values have not been saved to the PIC. Store "
                                    "them to the PIC now?"))) {
            event->ignore();
            StoreParamsToBoard();
            return;
        }
    }
    if (!StopRunThread(CloseWaitMs)) {
        AddLogLine(QStringLiteral("Calibration thread has not ended; the window stays open."));
        m_cancelWatch->start();
        event->ignore();
        return;
    }
    event->accept();
}
