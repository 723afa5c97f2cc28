#pragma once

#include <string>

class QObject;
class QString;

// How a calibration run speaks to its window: every call invokes one of the window's slots by
// name. From the run's thread the automatic connection queues them; the two operator prompts
// block the run until the window's thread has answered. An invocation that Qt refuses (no such
// slot, wrong arguments) fails with ExceptionWithString "QMetaObject::invokeMethod() failed".
//
// Threads: owned and used by the thread of one run; the window lives in another thread and
// must outlive the run.
class CalibReporter
{
public:
    explicit CalibReporter(QObject* window) : m_window(window) {}

    int path = -1;
    int refPoint = 0; // 0 reference A, 1 reference B
    double theoretical = -1.0;

    // HandleNewCalibVal(path, index, refPoint, theoretical, raw).
    void ReportValue(unsigned index, double raw);
    void Log(const std::string& text); // UTF-8
    void FinishedWithSuccess();
    void FinishedWithError(const QString& message);
    // Blocking; true when the operator pressed Ok.
    bool AwaitJumpersForCurrent();
    bool OutputCurrentCalibFailed(const std::string& message);

private:
    static void Check(bool invoked);

    QObject* m_window;
};
