#include "cardui/IoPointWidget.h"

#include <algorithm>
#include <vector>

#include <QMenu>
#include <QMessageBox>
#include <QPalette>

#include "cardui/CardUiHelpers.h"
#include "cardui/IoPointFormats.h"
#include "cardui/RawValueKeys.h"
#include "protocol/TolvarenSnapshotGatherer.h"
#include "ui_IoPointWidget.h"

namespace {

const QColor evenRowColour(0xcc, 0xcc, 0xff);
const QColor overrideActiveColour(0x99, 0xd9, 0xea);
const char* const offText = "Off";

// Element index of v, or a default when the card reported fewer elements than it has points.
template <class T> T At(const std::vector<T>& v, unsigned index, T fallback = T())
{
    return index < v.size() ? T(v[index]) : fallback;
}

} // namespace

IoPointWidget::IoPointWidget(ModbusMasterDatalink& datalink, Tolvaren::IoDirection direction,
                             unsigned index, QWidget* parent)
    : QWidget(parent), m_ui(new Ui::IoPointWidget), m_datalink(datalink), m_direction(direction),
      m_index(index), m_rowColour(Qt::white), m_calibrationDate(2000, 1, 1)
{
    InstallRawValueKeyWatcher();
    m_ui->setupUi(this);

    // Odd rows are painted white too, not in the window's colour: the override box falls back
    // to the row colour when an override ends.
    setAutoFillBackground(true);
    if (index % 2 == 0)
        m_rowColour = evenRowColour;
    SetBackground(this, m_rowColour);

    for (QLabel* ref : {m_ui->valueRefLabel, m_ui->lowerLimitRefLabel, m_ui->upperLimitRefLabel}) {
        QPalette pal = ref->palette();
        pal.setColor(QPalette::WindowText, Qt::darkRed);
        ref->setPalette(pal);
    }

    // Texts from the card are shown as they are, never as markup.
    for (QLabel* text : {m_ui->labelLabel, m_ui->partNumLabel, m_ui->ioNotesLabel})
        text->setTextFormat(Qt::PlainText);

    m_ui->overrideActiveLabel->setAutoFillBackground(true);
    m_ui->overrideActiveLabel->setText(offText);

    for (QWidget* w : {m_ui->additionalOffsetWidget, m_ui->partNumberWidget, m_ui->safeValueWidget,
                       m_ui->calibrationDateWidget, m_ui->longTermStatsWidget, m_ui->notesWidget})
        w->hide();

    m_graphMenu = new QMenu(this);
    m_graphMenu->addAction("Live data", this, SLOT(ShowLiveGraph()));
    m_historicalGraphAction =
        m_graphMenu->addAction("Last 8 days", this, SLOT(ShowHistoricalGraph()));
    m_ui->graphButton->setMenu(m_graphMenu);
}

IoPointWidget::~IoPointWidget() = default;

int IoPointWidget::WidthWithLimits() const
{
    const int items = m_ui->itemsLayout->minimumSize().width();
    const int limits = m_ui->limitsWidget->minimumSizeHint().width();
    return minimumSizeHint().width() + std::max(0, limits - items);
}

QString IoPointWidget::ProfileName() const
{
    const auto it = m_allowedProfiles.find(m_profileId);
    return it == m_allowedProfiles.end() ? QStringLiteral("?") : FromUtf8(it->second.name);
}

QString IoPointWidget::Unit() const
{
    return FromUtf8(UnitFromProfileName(ProfileName().toUtf8().toStdString(), true));
}

void IoPointWidget::UpdateFromSnapshot(TolvarenSnapshotGatherer* gatherer)
{
    const TolvarenSnapshot& s = gatherer->Snapshot();
    if (m_ui->ioPointNameLabel->text() == QLatin1String("?"))
        FirstPass(s);
    EveryUpdate(s);
}

void IoPointWidget::FirstPass(const TolvarenSnapshot& s)
{
    const bool input = m_direction == Tolvaren::Input;
    const unsigned i = m_index;

    m_ui->ioPointNameLabel->setText(QString(input ? "Input\n%1" : "Output\n%1").arg(i + 1));
    if (input) {
        // Input values are measured, not set.
        disconnect(m_ui->valueLabel, SIGNAL(Clicked()), this, nullptr);
        m_ui->overrideItemsWidget->hide();
    }

    const std::vector<std::uint16_t>& profileIds = input ? s.inputProfileIds : s.outputProfileIds;
    const bool allDigital = std::all_of(profileIds.begin(), profileIds.end(), [](std::uint16_t id) {
        return id == TolvarenScaling::digitalProfileId;
    });
    if (allDigital) {
        m_ui->label_2->hide();
        m_ui->scalingLabel->hide();
    }

    m_ui->labelLabel->setText(FromUtf8(At(input ? s.inputLabels : s.outputLabels, i)));

    const std::string partNumber = At(input ? s.inputPartNumbers : s.outputPartNumbers, i);
    if (!partNumber.empty()) {
        m_ui->partNumLabel->setText(FromUtf8(partNumber));
        m_ui->partNumberWidget->show();
    }

    m_cardType = s.cardType;
    m_nodeAddress = s.nodeAddress & 0xFF;
    m_allowedProfiles.clear();
    if (s.scalingProfiles) {
        for (const auto& entry : *s.scalingProfiles) {
            if (IsScalingProfileAllowed(s.cardType, m_direction, i, entry.second.name))
                m_allowedProfiles.insert(entry);
        }
    }
    m_allowedProfiles[TolvarenScaling::digitalProfileId] = TolvarenScalingProfile("Digital", "");
    m_profileId = At(profileIds, i, std::uint16_t(TolvarenScaling::digitalProfileId));

    ShowScalingProfile();

    if (input && m_profileId == TolvarenScaling::digitalProfileId && s.registerVersion >= 6)
        m_ui->longTermStatsWidget->show();

    m_ui->lowerLimitLabel->setText(
        QString::number(At(input ? s.inputLowerLimits : s.outputLowerLimits, i)));
    m_ui->upperLimitLabel->setText(
        QString::number(At(input ? s.inputUpperLimits : s.outputUpperLimits, i)));
    m_ui->lowerLimitRefLabel->setText(
        IoPointFormats::LowerLimitReference(m_nodeAddress, s.cardType, m_direction, i));
    m_ui->upperLimitRefLabel->setText(
        IoPointFormats::UpperLimitReference(m_nodeAddress, s.cardType, m_direction, i));

    const float offset = At(input ? s.inputOffsets : s.outputOffsets, i);
    if (!(offset == 0.0f)) { // a NaN offset is shown too
        ShowOffset(offset);
        m_ui->additionalOffsetWidget->show();
    }

    const Tolvaren::Date date = At(input ? s.inputDates : s.outputDates, i);
    if (date.day != 0 || date.month != 0 || date.year != 0) {
        ShowCalibrationDate(date);
        m_ui->calibrationDateWidget->show();
    }

    const std::string note = At(input ? s.inputNotes : s.outputNotes, i);
    if (!note.empty()) {
        m_ui->ioNotesLabel->setText(FromUtf8(note));
        m_ui->notesWidget->show();
    }

    if (s.registerVersion < 6)
        m_ui->showAllItemsLink->hide();

    m_notesSupported = s.notesSupported;

    if (s.registerVersion <= 6)
        m_ui->graphButtonContainer->hide();
    else if (s.firmwareVersion == "1.234")
        m_historicalGraphAction->setEnabled(false);

    if (s.registerVersion > 9 && !input) {
        m_safeValuesSupported = true;
        if (i < s.profiledSafeValues.size()) {
            const float safe = s.profiledSafeValues[i];
            m_ui->safeValueLabel->setText(IoPointFormats::PlainValue(safe, Unit()));
            m_ui->safeValueWidget->setVisible(safe != 0.0f);
        } else {
            // The card did not report this output's safe value.
            m_ui->safeValueLabel->setText(QStringLiteral("?"));
            m_ui->safeValueWidget->hide();
        }
    }
}

void IoPointWidget::ShowScalingProfile()
{
    const QString name = ProfileName();
    m_ui->scalingLabel->setText(name);
    const QString ref = IoPointFormats::ValueReference(m_nodeAddress, m_direction, m_index,
                                                       m_profileId, m_allowedProfiles);
    if (!ref.isEmpty()) {
        m_ui->valueRefLabel->setText(ref);
        m_ui->valueRefLabel->setToolTip("Object tester reference: KX.MRWT.G4." + ref);
    } else {
        m_ui->valueRefLabel->clear();
        m_ui->valueRefLabel->setToolTip(QString());
    }
    m_ui->limitsWidget->setVisible(name.contains(QLatin1String("upper")));
}

void IoPointWidget::ShowCalibrationDate(const Tolvaren::Date& date)
{
    // A date the calendar does not know (0/0/0 from an uncalibrated point) keeps the date
    // offered for editing as it was.
    const QDate shown(date.year, date.month, date.day);
    if (shown.isValid())
        m_calibrationDate = shown;
    const QChar zero('0');
    m_ui->calibDateLabel->setText(QStringLiteral("%1 / %2 / %3")
                                      .arg(date.day, 2, 10, zero)
                                      .arg(date.month, 2, 10, zero)
                                      .arg(date.year, 4, 10, zero));
}

void IoPointWidget::ShowOffset(float offset)
{
    m_ui->offsetLabel->setText(offset == 0.0f ? QString()
                                              : IoPointFormats::PlainValue(offset, Unit()));
}

void IoPointWidget::EveryUpdate(const TolvarenSnapshot& s)
{
    const bool input = m_direction == Tolvaren::Input;
    const unsigned i = m_index;

    if (AreRawValueKeysHeld()) {
        m_ui->valueLabel->setText(
            QStringLiteral("%1 raw").arg(At(input ? s.inputRawValues : s.outputRawValues, i)));
    } else {
        m_ui->valueLabel->setText(IoPointFormats::Value(
            At(input ? s.inputValues : s.outputValues, i), m_profileId, Unit()));
    }

    m_ui->overrideValueLabel->setText(
        IoPointFormats::Value(At(s.overrideValues, i), m_profileId, Unit()));

    const bool active = At(s.overrideActive, i);
    const bool shownActive = m_ui->overrideActiveLabel->text() != QLatin1String(offText);
    if (active != shownActive) {
        SetBackground(m_ui->overrideActiveLabel, m_rowColour);
        if (active) {
            m_ui->overrideActiveLabel->setText(QStringLiteral("ACTIVE"));
            SetBackground(m_ui->overrideActiveLabel, overrideActiveColour);
        } else {
            m_ui->overrideActiveLabel->setText(offText);
        }
    }

    if (input) {
        m_ui->longTermLowTimeLabel->setText(IoPointFormats::Duration(At(s.longTermLowTime, i)));
        m_ui->longTermHighTimeLabel->setText(IoPointFormats::Duration(At(s.longTermHighTime, i)));
        m_ui->longTermPulseCountLabel->setText(QString::number(At(s.longTermPulseCount, i)));
    }
}

void IoPointWidget::on_warningLabel_linkActivated(QString)
{
    QMessageBox::information(this, QString(),
                             "Warning - Adjusting the Upper and Lower limits will change the "
                             "values read by the master controller.\r\n\r\nThe master controller "
                             "may overwrite these values back to the ones stored within it.",
                             QMessageBox::Ok);
}

void IoPointWidget::on_showAllItemsLink_linkActivated(QString)
{
    m_ui->partNumberWidget->show();
    m_ui->calibrationDateWidget->show();
    if (m_notesSupported)
        m_ui->notesWidget->show();
    if (m_direction == Tolvaren::Input)
        m_ui->additionalOffsetWidget->show();
    else if (m_safeValuesSupported)
        m_ui->safeValueWidget->show();
    m_ui->showAllItemsLink->hide();
}
