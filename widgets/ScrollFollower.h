#pragma once

#include <QObject>

class QScrollBar;

// Keeps a scroll bar at its end while content is added, as a log pane should, unless the user
// has moved it away from the end to read something earlier; moving it back to the end resumes
// following. Lives as a child of the scroll bar.
// GUI thread only.
class ScrollFollower : public QObject
{
    Q_OBJECT

public:
    explicit ScrollFollower(QScrollBar* bar);

    bool IsFollowing() const { return m_following; }

private:
    QScrollBar* m_bar;
    bool m_following = true;
};
