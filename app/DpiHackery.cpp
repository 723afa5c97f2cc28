#include "app/DpiHackery.h"

#include <QTimer>
#include <QWidget>

DpiHackery::DpiHackery(QWidget* window) : QObject(window), m_window(window)
{
    QTimer::singleShot(100, this, &DpiHackery::Hackety);
}

void DpiHackery::Hackety()
{
    m_window->move(m_window->x() + 1, m_window->y());
}
