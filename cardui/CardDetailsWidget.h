#pragma once

#include <memory>
#include <vector>

#include <QString>

#include "cardui/CardDetailsBaseWidget.h"
#include "protocol/TolvarenTypes.h"

class ClickableLabel;
class IoPointWidget;
class ModbusMasterDatalink;
struct TolvarenSnapshot;

namespace Ui {
class CardDetailsWidget;
}

// The body of the card face: the card-wide output settings (CommsDog, SoftDog, overall output
// type, overridden outputs) and the overall input type above one IoPointWidget per point, inputs
// first. The rows are made on the first update; every update refreshes the card-wide items and
// is forwarded to every row. Clicking a card-wide value changes it on the card, waiting for the
// card in the user-interface thread.
//
// Threads: user-interface thread only.
class CardDetailsWidget : public CardDetailsBaseWidget
{
    Q_OBJECT

public:
    CardDetailsWidget(ModbusMasterDatalink& datalink, int cardType, QWidget* parent);
    ~CardDetailsWidget() override;

    void UpdateFromSnapshot(TolvarenSnapshotGatherer* gatherer) override;

    // Inputs first, then outputs.
    const std::vector<IoPointWidget*>& PointRows() const { return m_pointRows; }

private slots:
    void on_watchdogDelayUntilBusOff_Clicked();
    void on_watchdogDelayUntilRemainingOff_Clicked();
    void on_softdogDelayLabel_Clicked();
    void on_clearAllOverridesButton_clicked(bool checked);
    void on_outputsTypeLabel_Clicked();
    void on_inputsTypeLabel_Clicked();

private:
    void CreatePointRows(const TolvarenSnapshot& s);
    void UpdateOutputsBlock(const TolvarenSnapshot& s);
    void UpdateInputsBlock(const TolvarenSnapshot& s);
    // Asks for a new register value starting from the number shown in label. False when the
    // user cancelled or entered a number that does not fit (refused with "Invalid value.").
    bool AskForUInt16(const QString& prompt, const ClickableLabel* label, unsigned& value);
    void ChangeOverallType(Tolvaren::IoDirection dir, const ClickableLabel* typeLabel);
    void RefreshEverything();

    std::unique_ptr<Ui::CardDetailsWidget> m_ui;
    ModbusMasterDatalink& m_datalink;
    std::vector<IoPointWidget*> m_pointRows;
};
