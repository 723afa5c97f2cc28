#include "cardui/CardDetailsBaseWidget.h"

CardDetailsBaseWidget::CardDetailsBaseWidget(int cardType, QWidget* parent)
    : QWidget(parent), m_cardType(cardType)
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("CardDetailsBaseWidget"));
    resize(400, 300);
    setWindowTitle(QStringLiteral("CardDetailsBaseWidget"));
    QMetaObject::connectSlotsByName(this);
}
