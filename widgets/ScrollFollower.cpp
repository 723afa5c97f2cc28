#include "widgets/ScrollFollower.h"

#include <QScrollBar>

ScrollFollower::ScrollFollower(QScrollBar* bar) : QObject(bar), m_bar(bar)
{
    m_following = bar->value() >= bar->maximum();
    // New content (or a horizontal bar that appears with a long line) grows the range before
    // the value is looked at again: the end is caught up with here.
    connect(bar, &QScrollBar::rangeChanged, this, [this](int, int maximum) {
        if (m_following)
            m_bar->setValue(maximum);
    });
    connect(bar, &QScrollBar::valueChanged, this,
            [this](int value) { m_following = value >= m_bar->maximum(); });
}
