#pragma once

#include <QLabel>

// A label that reacts to a left click, used for every editable value of the card face.
// It shows the pointing hand only while something is connected to Clicked(), so a value that
// cannot be edited (an input's value, a statistic) does not look clickable; after a disconnect
// the cursor changes once the event loop has run.
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
    void connectNotify(const QMetaMethod& signal) override;
    void disconnectNotify(const QMetaMethod& signal) override;

private:
    void UpdateCursor();
};
