#include "cardui/CardDetailsWidget.h"

#include <algorithm>
#include <exception>
#include <string>

#include <QApplication>
#include <QMessageBox>
#include <QPalette>
#include <QStringList>
#include <QVBoxLayout>

#include "cardui/CardUiHelpers.h"
#include "cardui/IoPointWidget.h"
#include "protocol/CPackedVal.h"
#include "protocol/TolvarenCommsCommon.h"
#include "protocol/TolvarenScalingProfile.h"
#include "protocol/TolvarenSnapshotGatherer.h"
#include "ui_CardDetailsWidget.h"
#include "widgets/ClickableLabel.h"
#include "widgets/ValueFromUserDlg.h"
#include "widgets/WaitCursor.h"

namespace {

const char* const delayFailure = "Failed to change delay: ";

QString ErrorText(const std::exception& e)
{
    return QString::fromUtf8(e.what());
}

bool AnyAnalogue(const std::vector<std::uint16_t>& profileIds)
{
    return std::any_of(profileIds.begin(), profileIds.end(),
                       [](std::uint16_t id) { return id != TolvarenScaling::digitalProfileId; });
}

} // namespace

CardDetailsWidget::CardDetailsWidget(ModbusMasterDatalink& datalink, int cardType, QWidget* parent)
    : CardDetailsBaseWidget(cardType, parent), m_ui(new Ui::CardDetailsWidget), m_datalink(datalink)
{
    m_ui->setupUi(this);
    m_ui->nonItemsContainer->setAutoFillBackground(true);
    SetBackground(m_ui->nonItemsContainer, Qt::white);
    m_ui->watchdogStateLabel->setAutoFillBackground(true);
}

CardDetailsWidget::~CardDetailsWidget() = default;

void CardDetailsWidget::UpdateFromSnapshot(TolvarenSnapshotGatherer* gatherer)
{
    const TolvarenSnapshot& s = gatherer->Snapshot();
    if (!findChild<IoPointWidget*>())
        CreatePointRows(s);

    if (s.numOutputs > 0)
        UpdateOutputsBlock(s);
    if (s.numInputs > 0)
        UpdateInputsBlock(s);

    for (IoPointWidget* row : m_pointRows)
        row->UpdateFromSnapshot(gatherer);
}

void CardDetailsWidget::CreatePointRows(const TolvarenSnapshot& s)
{
    auto* layout = new QVBoxLayout(m_ui->itemsContainer);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);

    for (unsigned i = 0; i < s.numInputs; ++i) {
        auto* row = new IoPointWidget(m_datalink, Tolvaren::Input, i, m_ui->itemsContainer);
        layout->addWidget(row);
        m_pointRows.push_back(row);
    }
    for (unsigned i = 0; i < s.numOutputs; ++i) {
        auto* row = new IoPointWidget(m_datalink, Tolvaren::Output, i, m_ui->itemsContainer);
        layout->addWidget(row);
        m_pointRows.push_back(row);
    }

    if (s.numOutputs > 0) {
        if (s.registerVersion < 10)
            m_ui->softDogDelayBlock->hide();
    } else {
        delete m_ui->outputOptionsWidget;
        m_ui->outputOptionsWidget = nullptr;
    }
    if (s.numInputs == 0) {
        delete m_ui->inputOptionsWidget;
        m_ui->inputOptionsWidget = nullptr;
    }
}

void CardDetailsWidget::UpdateOutputsBlock(const TolvarenSnapshot& s)
{
    if (!m_ui->outputOptionsWidget)
        return; // the card had no outputs when the rows were made

    QLabel* state = m_ui->watchdogStateLabel;
    SetBackground(state, Qt::white);
    if (s.commsDogBusOffDelay == 0) {
        state->setText(QStringLiteral("Disabled"));
    } else if (s.commsDogTriggered) {
        state->setText(QStringLiteral("TRIGGERED"));
        SetBackground(state, Qt::red);
    } else {
        state->setText(QStringLiteral("Healthy"));
    }

    m_ui->watchdogDelayUntilBusOff->setText(QString::number(s.commsDogBusOffDelay) + " seconds");
    m_ui->watchdogDelayUntilRemainingOff->setText(QString::number(s.commsDogOutputsOffDelay) +
                                                  " seconds");
    m_ui->softdogDelayLabel->setText(QString::number(s.softDogMinutes) + " minutes");

    const auto overridden = std::count(s.overrideActive.begin(), s.overrideActive.end(), true);
    m_ui->numOverridenLabel->setText(QString::number(overridden));
    m_ui->clearAllOverridesButton->setEnabled(overridden > 0);

    m_ui->outputsTypeLabel->setText(AnyAnalogue(s.outputProfileIds) ? QStringLiteral("Analogue")
                                                                    : QStringLiteral("Digital"));
}

void CardDetailsWidget::UpdateInputsBlock(const TolvarenSnapshot& s)
{
    if (!m_ui->inputOptionsWidget)
        return;
    m_ui->inputsTypeLabel->setText(AnyAnalogue(s.inputProfileIds) ? QStringLiteral("Analogue")
                                                                  : QStringLiteral("Digital"));
}

bool CardDetailsWidget::AskForUInt16(const QString& prompt, const ClickableLabel* label,
                                     unsigned& value)
{
    const QStringList words = label->text().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    bool ok = false;
    value = words.isEmpty() ? 0 : words.first().toUInt(&ok, 10);
    if (!ok)
        value = 0;

    if (!GetUIntFromUser(prompt, value, this))
        return false;
    if (value > 65535) {
        QMessageBox::information(this, QString(), QStringLiteral("Invalid value."),
                                 QMessageBox::Ok);
        return false;
    }
    return true;
}

void CardDetailsWidget::on_watchdogDelayUntilBusOff_Clicked()
{
    unsigned value = 0;
    if (!AskForUInt16("Enter delay until bus-off (0 to disable):", m_ui->watchdogDelayUntilBusOff,
                      value))
        return;
    try {
        TolvarenCommsCommon comms(m_datalink);
        comms
            .WriteSingleRegister(TolvarenCommsCommon::regCommsDogBusOffDelay,
                                 static_cast<std::uint16_t>(value))
            .get();
    } catch (const std::exception& e) {
        QMessageBox::warning(this, QString(), delayFailure + ErrorText(e), QMessageBox::Ok);
    }
}

void CardDetailsWidget::on_watchdogDelayUntilRemainingOff_Clicked()
{
    unsigned value = 0;
    if (!AskForUInt16("Enter extra delay after which all outputs are turned off:",
                      m_ui->watchdogDelayUntilRemainingOff, value))
        return;
    try {
        TolvarenCommsCommon comms(m_datalink);
        comms
            .WriteSingleRegister(TolvarenCommsCommon::regCommsDogOutputsOffDelay,
                                 static_cast<std::uint16_t>(value))
            .get();
    } catch (const std::exception& e) {
        QMessageBox::warning(this, QString(), delayFailure + ErrorText(e), QMessageBox::Ok);
    }
}

void CardDetailsWidget::on_softdogDelayLabel_Clicked()
{
    unsigned value = 0;
    if (!AskForUInt16("Enter SoftDog delay in minutes:", m_ui->softdogDelayLabel, value))
        return;
    try {
        TolvarenCommsCommon comms(m_datalink);
        comms.WriteNamedVariable("OutputsToSafeMinutes", CPackedVal::FromFloat(float(value))).get();
    } catch (const std::exception& e) {
        QMessageBox::warning(this, QString(), delayFailure + ErrorText(e), QMessageBox::Ok);
    }
}

void CardDetailsWidget::on_clearAllOverridesButton_clicked(bool)
{
    try {
        TolvarenCommsCommon comms(m_datalink);
        for (unsigned i = 0; i < comms.GetNumOutputs().get(); ++i)
            comms.SetOverrideActive(i, false).get();
    } catch (const std::exception& e) {
        QMessageBox::warning(this, QString(), "Failed to change overrides: " + ErrorText(e),
                             QMessageBox::Ok);
    }
}

void CardDetailsWidget::on_outputsTypeLabel_Clicked()
{
    ChangeOverallType(Tolvaren::Output, m_ui->outputsTypeLabel);
}

void CardDetailsWidget::on_inputsTypeLabel_Clicked()
{
    ChangeOverallType(Tolvaren::Input, m_ui->inputsTypeLabel);
}

void CardDetailsWidget::ChangeOverallType(Tolvaren::IoDirection dir,
                                          const ClickableLabel* typeLabel)
{
    const QString word =
        dir == Tolvaren::Output ? QStringLiteral("output") : QStringLiteral("input");
    const std::vector<std::string> choices{"Analogue (using a scaling profile)", "Digital"};
    const unsigned current = typeLabel->text().startsWith(QLatin1String("Digital")) ? 1 : 0;

    unsigned chosen = current;
    if (!GetChoiceFromUser("Choose the overall type for all " + word + "s:", choices, chosen, this))
        return;
    if (chosen == current)
        return;

    unsigned profileId = 0;
    if (chosen == 1) {
        const auto answer = QMessageBox::question(
            this, QString(),
            "This will change every " + word + " scaling profile to \"Digital\". Are you sure?",
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
        profileId = TolvarenScaling::digitalProfileId;
    }

    try {
        WaitCursor wait;
        TolvarenCommsCommon comms(m_datalink);
        const unsigned n =
            dir == Tolvaren::Output ? comms.GetNumOutputs().get() : comms.GetNumInputs().get();
        for (unsigned i = 0; i < n; ++i)
            comms.SetScalingProfile(dir, i, profileId).get();
    } catch (const std::exception& e) {
        QMessageBox::warning(this, QString(),
                             "Failed to change " + word + " type for all " + word +
                                 "s: " + ErrorText(e),
                             QMessageBox::Ok);
    }
    // The main window rebuilds the whole card face from a new full gathering: this widget may
    // be gone once the call returns.
    RefreshEverything();
}

void CardDetailsWidget::RefreshEverything()
{
    QMetaObject::invokeMethod(window(), "RefreshEverything", Qt::DirectConnection);
}
