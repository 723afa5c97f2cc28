#pragma once

#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <string>

#include <QColor>
#include <QDate>
#include <QString>
#include <QWidget>

#include "protocol/IUpdateableFromSnapshot.h"
#include "protocol/TolvarenScalingProfile.h"
#include "protocol/TolvarenTypes.h"

class ModbusMasterDatalink;
class QAction;
class QMenu;
class TolvarenCommsCommon;
struct TolvarenSnapshot;

namespace Ui {
class IoPointWidget;
}

// One row of the card face: an I/O point's number, label, value, scaling profile, limits,
// override state and optional items, with the object references the master controller uses.
// The first update fills the static items; every update refreshes value, override and
// long-term statistics. Clicking a stored value asks for a new one, writes it to the card and,
// for most items, shows what the card then holds (the edit flows, in IoPointWidgetEdits.cpp).
//
// Threads: user-interface thread only. The edit flows wait for the card in that thread.
class IoPointWidget : public QWidget, public IUpdateableFromSnapshot
{
    Q_OBJECT

public:
    IoPointWidget(ModbusMasterDatalink& datalink, Tolvaren::IoDirection direction, unsigned index,
                  QWidget* parent);
    ~IoPointWidget() override;

    void UpdateFromSnapshot(TolvarenSnapshotGatherer* gatherer) override;

    Tolvaren::IoDirection Direction() const { return m_direction; }
    unsigned Index() const { return m_index; }
    QColor RowColour() const { return m_rowColour; }
    unsigned NodeAddress() const { return m_nodeAddress; }
    std::uint16_t ProfileId() const { return m_profileId; }
    QDate CalibrationDate() const { return m_calibrationDate; }
    const std::map<int, TolvarenScalingProfile>& AllowedProfiles() const
    {
        return m_allowedProfiles;
    }
    // The least width the row needs with its limits block shown, its widest, whether shown
    // now or not: a profile change, here or on the card, may bring the block.
    int WidthWithLimits() const;
    // "?" when the profile id is not among the allowed profiles.
    QString ProfileName() const;
    QString Unit() const;

private slots:
    void on_labelLabel_Clicked();
    void on_partNumLabel_Clicked();
    void on_scalingLabel_Clicked();
    void on_valueLabel_Clicked();
    void on_offsetLabel_Clicked();
    void on_safeValueLabel_Clicked();
    void on_lowerLimitLabel_Clicked();
    void on_upperLimitLabel_Clicked();
    void on_overrideValueLabel_Clicked();
    void on_overrideActiveLabel_Clicked();
    void on_warningLabel_linkActivated(QString link);
    void on_calibDateLabel_Clicked();
    void on_longTermResetButton_clicked();
    void on_ioNotesLabel_Clicked();
    void ShowLiveGraph();
    void ShowHistoricalGraph();
    void on_showAllItemsLink_linkActivated(QString link);

private:
    void FirstPass(const TolvarenSnapshot& s);
    void EveryUpdate(const TolvarenSnapshot& s);
    // Profile name, value reference and limits block from the current profile id.
    void ShowScalingProfile();
    // The calibration date member and its label, from the card's date.
    void ShowCalibrationDate(const Tolvaren::Date& date);
    // Offset label from the card's offset: empty when it is 0.
    void ShowOffset(float offset);

    // Value entry of the output and override values: a low/high choice for a digital point,
    // a number otherwise. False when the user cancelled.
    bool AskForValue(const QString& prompt, float& value);
    void ChangeLimit(bool upper);
    // Raises the point's live or 8-day graph window, or opens it.
    void ShowGraph(bool live);
    void CloseGraphWindows();
    // Writes the note the card held before back after the card refused a new one; empty
    // when that worked, else a sentence for the warning saying that it did not.
    QString PutNoteBack(TolvarenCommsCommon& comms, const std::string& note);
    void Warn(const QString& text);
    void WarnFailure(const char* prefix, const std::exception& e);

    std::unique_ptr<Ui::IoPointWidget> m_ui;
    ModbusMasterDatalink& m_datalink;
    Tolvaren::IoDirection m_direction;
    unsigned m_index;
    QColor m_rowColour;
    unsigned m_nodeAddress = 0;
    int m_cardType = 0;
    std::map<int, TolvarenScalingProfile> m_allowedProfiles;
    std::uint16_t m_profileId = 0;
    QDate m_calibrationDate;
    bool m_notesSupported = false;
    bool m_safeValuesSupported = false;
    QMenu* m_graphMenu = nullptr;
    QAction* m_historicalGraphAction = nullptr;
};
