#pragma once

#include <QLabel>

// A label that reacts to a left click, used for every editable value of the card face.
// GUI thread only.
class ClickableLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ClickableLabel(QWidget* parent = nullptr);

signals:
    void Clicked();

protected:
    // Left button: emits Clicked(). Presses never reach QLabel (no text selection by mouse).
    void mousePressEvent(QMouseEvent* event) override;
};
