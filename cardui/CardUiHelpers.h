#pragma once

#include <string>

#include <QColor>
#include <QPalette>
#include <QString>
#include <QWidget>

// Small helpers the card face's widgets share.

// The card's texts are UTF-8 and may hold NUL bytes; all of them are kept.
inline QString FromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), int(text.size()));
}

inline void SetBackground(QWidget* widget, const QColor& colour)
{
    QPalette pal = widget->palette();
    pal.setColor(widget->backgroundRole(), colour);
    widget->setPalette(pal);
}
