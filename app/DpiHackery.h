#pragma once

#include <QObject>

class QWidget;

// Moves its window one pixel to the right 100 ms after it is created. The application object
// creates one as a child of each top-level window when that window is first shown, so every
// window gets the nudge once; it dies with the window. User-interface thread only.
class DpiHackery : public QObject
{
    Q_OBJECT

public:
    explicit DpiHackery(QWidget* window);

public slots:
    void Hackety();

private:
    QWidget* m_window;
};
