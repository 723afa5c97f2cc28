#pragma once

#include <functional>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>

// Runs the event loop until condition holds, up to a generous bound. True when it came true.
inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        // Windows delete themselves with deleteLater(), which processEvents() leaves alone.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}
