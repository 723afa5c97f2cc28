#include "widgets/ClickableLabel.h"

#include <QMetaMethod>
#include <QMouseEvent>

ClickableLabel::ClickableLabel(QWidget* parent) : QLabel(parent)
{
    // Forms connect their slots by name after construction; until then nothing listens.
    UpdateCursor();
}

void ClickableLabel::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        emit Clicked();
}

void ClickableLabel::connectNotify(const QMetaMethod& signal)
{
    QLabel::connectNotify(signal);
    if (signal == QMetaMethod::fromSignal(&ClickableLabel::Clicked))
        UpdateCursor();
}

void ClickableLabel::disconnectNotify(const QMetaMethod& signal)
{
    QLabel::disconnectNotify(signal);
    // An invalid method: everything was disconnected at once. Qt calls this with the
    // connection lock held, which asking about the remaining connections would take again, so
    // the cursor follows from the event loop.
    if (!signal.isValid() || signal == QMetaMethod::fromSignal(&ClickableLabel::Clicked))
        QMetaObject::invokeMethod(
            this, [this] { UpdateCursor(); }, Qt::QueuedConnection);
}

void ClickableLabel::UpdateCursor()
{
    if (isSignalConnected(QMetaMethod::fromSignal(&ClickableLabel::Clicked)))
        setCursor(Qt::PointingHandCursor);
    else
        unsetCursor();
}
