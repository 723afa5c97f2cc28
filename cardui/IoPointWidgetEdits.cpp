// The edit flows of a point row: each asks for a new value, writes it to the card with a
// TolvarenCommsCommon built for the flow, waits for the card in the user-interface thread and,
// for most items, reads the stored value back into the row. A failure ends the flow with one
// warning that names what failed.

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>

#include "cardui/CardUiHelpers.h"
#include "cardui/IoPointFormats.h"
#include "cardui/IoPointWidget.h"
#include "comms/ExceptionWithString.h"
#include "graphs/GraphWindow.h"
#include "modbus/ModbusErrors.h"
#include "protocol/CPackedVal.h"
#include "protocol/TolvarenCommsCommon.h"
#include "ui_IoPointWidget.h"
#include "widgets/ValueFromUserDlg.h"

namespace {

// Exception codes the card answers a note write with.
const unsigned char noteStoreFull = 3;
const unsigned char noteStoreCorrupt = 4;

// The number a value label shows: its first word ("12.34 %", "1 (high)", "517 raw"); 0 when
// there is none.
float ShownNumber(const QLabel* label)
{
    const QStringList words = label->text().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return 0.0f;
    bool ok = false;
    const float value = words.first().toFloat(&ok);
    // A NaN offset is shown as "nan": offer 0, which the dialog accepts.
    return ok && std::isfinite(value) ? value : 0.0f;
}

int ShownWholeNumber(const QLabel* label)
{
    bool ok = false;
    const int value = label->text().toInt(&ok, 10);
    return ok ? value : 0;
}

// The card keeps only the first maxBytes bytes of a label or part number. Cut before the
// character that would not fit, not inside it, so what the card keeps is still valid UTF-8.
std::string Utf8Within(const QString& text, std::size_t maxBytes)
{
    const QByteArray bytes = text.toUtf8();
    std::size_t length = static_cast<std::size_t>(bytes.size());
    if (length > maxBytes) {
        length = maxBytes;
        while (length > 0 && (static_cast<unsigned char>(bytes[int(length)]) & 0xC0) == 0x80)
            --length;
    }
    return std::string(bytes.constData(), length);
}

// The raw output register takes the value truncated toward zero, modulo 65536. Done in
// floating point, so values beyond the range of an int wrap like the others.
std::uint16_t RawRegisterValue(float value)
{
    double wrapped = std::fmod(std::trunc(double(value)), 65536.0);
    if (wrapped < 0)
        wrapped += 65536.0;
    return static_cast<std::uint16_t>(wrapped);
}

template <class T> T Element(const std::vector<T>& values, unsigned index)
{
    if (index >= values.size())
        throw ExceptionWithString("the card reported fewer points than it has");
    return values[index];
}

} // namespace

void IoPointWidget::Warn(const QString& text)
{
    QMessageBox::warning(this, QString(), text, QMessageBox::Ok);
}

void IoPointWidget::WarnFailure(const char* prefix, const std::exception& e)
{
    Warn(QString::fromUtf8(prefix) + QString::fromUtf8(e.what()));
}

bool IoPointWidget::AskForValue(const QString& prompt, float& value)
{
    if (m_profileId != TolvarenScaling::digitalProfileId)
        return GetFloatFromUser(prompt, value, this);
    unsigned choice = value != 0.0f ? 1 : 0;
    if (!GetChoiceFromUser(prompt, {"0 (low)", "1 (high)"}, choice, this))
        return false;
    value = choice == 1 ? 1.0f : 0.0f;
    return true;
}

void IoPointWidget::on_labelLabel_Clicked()
{
    QString text = m_ui->labelLabel->text();
    if (!GetTextFromUser("Enter new label:", text, this))
        return;
    try {
        TolvarenCommsCommon comms(m_datalink);
        comms.SetLabel(m_direction, m_index, Utf8Within(text, TolvarenCommsCommon::labelLength))
            .get();
        m_ui->labelLabel->setText(FromUtf8(comms.GetLabel(m_direction, m_index).get()));
    } catch (const std::exception& e) {
        WarnFailure("Failed to change label: ", e);
    }
}

void IoPointWidget::on_partNumLabel_Clicked()
{
    QString text = m_ui->partNumLabel->text();
    if (!GetTextFromUser("Enter new part-number:", text, this))
        return;
    try {
        TolvarenCommsCommon comms(m_datalink);
        comms
            .SetPartNumber(m_direction, m_index,
                           Utf8Within(text, TolvarenCommsCommon::partNumberLength))
            .get();
        m_ui->partNumLabel->setText(FromUtf8(comms.GetPartNumber(m_direction, m_index).get()));
    } catch (const std::exception& e) {
        WarnFailure("Failed to change part-number: ", e);
    }
}

void IoPointWidget::on_offsetLabel_Clicked()
{
    float value = ShownNumber(m_ui->offsetLabel);
    if (!GetFloatFromUser("Enter new offset:", value, this))
        return;
    try {
        TolvarenCommsCommon comms(m_datalink);
        comms.SetOffset(m_direction, m_index, value).get();
        ShowOffset(Element(comms.GetOffsets(m_direction).get(), m_index));
    } catch (const std::exception& e) {
        WarnFailure("Failed to change value: ", e);
    }
}

void IoPointWidget::on_safeValueLabel_Clicked()
{
    float value = ShownNumber(m_ui->safeValueLabel);
    if (!GetFloatFromUser("Enter new safe-value:", value, this))
        return;
    try {
        TolvarenCommsCommon comms(m_datalink);
        comms
            .WriteNamedVariable("ProfiledSafeVal[" + std::to_string(m_index) + "]",
                                CPackedVal::FromFloat(value))
            .get();
        m_ui->safeValueLabel->setText(IoPointFormats::PlainValue(value, Unit()));
    } catch (const std::exception& e) {
        WarnFailure("Failed to change value: ", e);
    }
}

void IoPointWidget::on_lowerLimitLabel_Clicked()
{
    ChangeLimit(false);
}

void IoPointWidget::on_upperLimitLabel_Clicked()
{
    ChangeLimit(true);
}

void IoPointWidget::ChangeLimit(bool upper)
{
    ClickableLabel* label = upper ? m_ui->upperLimitLabel : m_ui->lowerLimitLabel;
    int value = ShownWholeNumber(label);
    // Refuses what does not fit a 16-bit register, so nothing is written then.
    if (!GetInt16FromUser(upper ? "Enter new upper limit:" : "Enter new lower limit:", value, this))
        return;
    try {
        TolvarenCommsCommon comms(m_datalink);
        const short limit = static_cast<short>(value);
        if (upper) {
            comms.SetUpperLimit(m_direction, m_index, limit).get();
            label->setText(
                QString::number(Element(comms.GetUpperLimits(m_direction).get(), m_index)));
        } else {
            comms.SetLowerLimit(m_direction, m_index, limit).get();
            label->setText(
                QString::number(Element(comms.GetLowerLimits(m_direction).get(), m_index)));
        }
    } catch (const std::exception& e) {
        WarnFailure("Failed to change limit: ", e);
    }
}

void IoPointWidget::on_valueLabel_Clicked()
{
    // Only connected for outputs; an input's value is measured, not set.
    if (m_direction != Tolvaren::Output)
        return;
    float value = ShownNumber(m_ui->valueLabel);
    if (!AskForValue("Enter new value:", value))
        return;
    // Shift on confirming writes the raw output register instead of the scaled value.
    const bool raw = QGuiApplication::keyboardModifiers() & Qt::ShiftModifier;
    try {
        TolvarenCommsCommon comms(m_datalink);
        if (raw) {
            comms
                .WriteSingleRegister(
                    static_cast<std::uint16_t>(TolvarenCommsCommon::baseRawValue + m_index),
                    RawRegisterValue(value))
                .get();
        } else {
            comms.SetOutputValue(m_index, value).get();
        }
    } catch (const std::exception& e) {
        WarnFailure("Failed to change value: ", e);
    }
}

void IoPointWidget::on_overrideValueLabel_Clicked()
{
    float value = ShownNumber(m_ui->overrideValueLabel);
    if (!AskForValue("Enter new override value:", value))
        return;
    try {
        TolvarenCommsCommon comms(m_datalink);
        comms.SetOverrideValue(m_index, value).get();
    } catch (const std::exception& e) {
        WarnFailure("Failed to change override value: ", e);
    }
}

void IoPointWidget::on_overrideActiveLabel_Clicked()
{
    const bool on = m_ui->overrideActiveLabel->text() == QLatin1String("Off");
    try {
        TolvarenCommsCommon comms(m_datalink);
        comms.SetOverrideActive(m_index, on).get();
    } catch (const std::exception& e) {
        WarnFailure("Failed to change override state: ", e);
    }
}

void IoPointWidget::on_calibDateLabel_Clicked()
{
    QDate date = m_calibrationDate;
    if (!GetDateFromUser("Set new calibration date:", date, this))
        return;
    m_calibrationDate = date;
    try {
        TolvarenCommsCommon comms(m_datalink);
        const Tolvaren::Date written(static_cast<std::uint8_t>(date.day()),
                                     static_cast<std::uint8_t>(date.month()),
                                     static_cast<std::uint16_t>(date.year()));
        comms.SetCalibrationDate(m_direction, m_index, written).get();
        ShowCalibrationDate(comms.GetCalibrationDate(m_direction, m_index).get());
    } catch (const std::exception& e) {
        WarnFailure("Failed to change calibration date: ", e);
    }
}

void IoPointWidget::on_longTermResetButton_clicked()
{
    if (!YesNoQuestion("Reset the three long term stats?", this))
        return;
    try {
        TolvarenCommsCommon comms(m_datalink);
        comms.ResetLongTermStats(m_index).get();
    } catch (const std::exception& e) {
        WarnFailure("Failed to reset stats: ", e);
    }
}

void IoPointWidget::on_scalingLabel_Clicked()
{
    std::vector<std::string> names;
    std::vector<unsigned> ids;
    for (const auto& entry : m_allowedProfiles) { // ascending ids: "Digital" comes last
        ids.push_back(static_cast<unsigned>(entry.first));
        names.push_back(entry.second.name);
    }
    unsigned position = 0;
    while (position < ids.size() && ids[position] != m_profileId)
        ++position; // none checked when the point's profile is not allowed here
    if (!GetChoiceFromUser("Choose a Scaling Profile:", names, position, this) ||
        position >= ids.size())
        return;

    // A graph drawn in the old profile's unit would go on showing it.
    CloseGraphWindows();
    try {
        TolvarenCommsCommon comms(m_datalink);
        comms.SetScalingProfile(m_direction, m_index, ids[position]).get();
        m_profileId = Element(comms.GetScalingProfileIds(m_direction).get(), m_index);
        ShowScalingProfile();
        ShowOffset(Element(comms.GetOffsets(m_direction).get(), m_index));
        if (comms.GetRegisterVersion().get() > 5) {
            m_ui->longTermStatsWidget->setVisible(m_direction == Tolvaren::Input &&
                                                  m_profileId == TolvarenScaling::digitalProfileId);
        }
        // Touches the point's live data once in its new profile; the samples are not used.
        comms.GetLiveData(m_direction, m_index).get();
    } catch (const std::exception& e) {
        WarnFailure("Failed to change scaling: ", e);
    }
}

void IoPointWidget::on_ioNotesLabel_Clicked()
{
    QString text = m_ui->ioNotesLabel->text();
    try {
        TolvarenCommsCommon comms(m_datalink);
        // What the card held before this flow wrote anything: a card that runs out of room
        // refuses a note only after it has stored the pieces that fitted in place of the old
        // one, so the old one is written back then.
        std::optional<std::string> before;
        // Asks again, offering what was typed, until the note is stored, the store turns out
        // to be corrupt or the user cancels; Cancel always leaves, whatever the card answers.
        while (GetMultiLineTextFromUser("Update notes:", text, this)) {
            try {
                if (!before)
                    before = comms.GetIoNote(m_direction, m_index).get();
                comms.SetIoNote(m_direction, m_index, text.toUtf8().toStdString()).get();
                break;
            } catch (const Modbus::Error& e) {
                if (e.IsExceptionReply(noteStoreFull) && before) {
                    Warn(QStringLiteral("Not enough space to store note. You can shorten other "
                                        "notes to make more space.") +
                         PutNoteBack(comms, *before));
                    continue;
                }
                if (e.IsExceptionReply(noteStoreCorrupt)) {
                    Warn("The Note storage on the card has become corrupt. Some data may have "
                         "been lost.\r\n\r\nTo fix the corruption, save the card configuration "
                         "to a file and restore it (using the Options button in the "
                         "top-right).");
                    break;
                }
                WarnFailure("Failed to change note: ", e);
            } catch (const std::exception& e) {
                WarnFailure("Failed to change note: ", e);
            }
        }
        // Shows what the card holds now, however the loop ended.
        m_ui->ioNotesLabel->setText(FromUtf8(comms.GetIoNote(m_direction, m_index).get()));
    } catch (const std::exception& e) {
        m_ui->ioNotesLabel->clear();
        WarnFailure("Failed to read note from card: ", e);
    }
}

QString IoPointWidget::PutNoteBack(TolvarenCommsCommon& comms, const std::string& note)
{
    try {
        comms.SetIoNote(m_direction, m_index, note).get();
        return QString();
    } catch (const std::exception& e) {
        return QStringLiteral("\n\nThe previous note could not be put back: ") +
               QString::fromUtf8(e.what());
    }
}

// Opened by the graph window's code, which is connected here once it exists.
namespace {

QString GraphName(const char* kind, Tolvaren::IoDirection dir, unsigned index)
{
    return QStringLiteral("%1-%2-%3").arg(QLatin1String(kind)).arg(int(dir)).arg(index);
}

GraphWindow* FindGraph(QWidget* topLevel, const QString& name)
{
    return topLevel->findChild<GraphWindow*>(name);
}

} // namespace

void IoPointWidget::ShowGraph(bool live)
{
    QWidget* top = window();
    const QString name = GraphName(live ? "LiveGraph" : "HistoricalGraph", m_direction, m_index);
    if (GraphWindow* existing = FindGraph(top, name)) {
        existing->showNormal();
        existing->show();
        existing->activateWindow();
        existing->raise();
        return;
    }
    GraphWindow* graph =
        live ? GraphWindow::OpenLiveGraph(m_datalink, m_direction, m_index, ProfileName(), top)
             : GraphWindow::OpenHistoricalGraph(m_datalink, m_direction, m_index, ProfileName(),
                                                top);
    // The window may already be gone (its first request failed).
    QPointer<GraphWindow> alive(graph);
    if (alive)
        alive->setObjectName(name);
}

void IoPointWidget::ShowLiveGraph()
{
    ShowGraph(true);
}

void IoPointWidget::ShowHistoricalGraph()
{
    ShowGraph(false);
}

// The point's graphs show the old scaling: they go before the profile changes.
void IoPointWidget::CloseGraphWindows()
{
    QWidget* top = window();
    for (const char* kind : {"LiveGraph", "HistoricalGraph"}) {
        if (GraphWindow* graph = FindGraph(top, GraphName(kind, m_direction, m_index))) {
            graph->setObjectName(QString()); // a graph opened meanwhile is a new one
            graph->deleteLater();
        }
    }
}
