#pragma once

#include <QWidget>

#include "protocol/IUpdateableFromSnapshot.h"

// Base of the card face's body: remembers the card type it was made for.
// User-interface thread only.
class CardDetailsBaseWidget : public QWidget, public IUpdateableFromSnapshot
{
    Q_OBJECT

public:
    CardDetailsBaseWidget(int cardType, QWidget* parent);

    int CardType() const { return m_cardType; }

    void UpdateFromSnapshot(TolvarenSnapshotGatherer* gatherer) override = 0;

private:
    int m_cardType;
};
