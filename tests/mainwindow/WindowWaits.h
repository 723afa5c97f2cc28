#pragma once

#include <functional>

#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include "mainwindow/TolvarenDiagnostics.h"

// Waiting helpers of the main window's tests.

// Runs the event loop until done() holds, re-checking whenever the window reports something and
// every few milliseconds; false when the bound passed first.
inline bool RunUntil(const std::function<bool()>& done, int boundMs = 15000)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(5);
    QTimer::singleShot(boundMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

// Counts a signal of the window; Wait(n) runs the event loop until n more have come.
class SignalCounter
{
public:
    template <typename Signal>
    SignalCounter(TolvarenDiagnostics* window, Signal signal)
    {
        m_connection = QObject::connect(window, signal, [this] { ++m_count; });
    }
    ~SignalCounter() { QObject::disconnect(m_connection); }

    int Count() const { return m_count; }
    bool Wait(int more = 1, int boundMs = 15000)
    {
        const int target = m_count + more;
        return RunUntil([&] { return m_count >= target; }, boundMs);
    }

private:
    int m_count = 0;
    QMetaObject::Connection m_connection;
};
