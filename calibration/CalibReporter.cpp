#include "calibration/CalibReporter.h"

#include <QMetaObject>
#include <QObject>
#include <QString>

#include <boost/throw_exception.hpp>

#include "comms/ExceptionWithString.h"

void CalibReporter::Check(bool invoked)
{
    if (!invoked)
        boost::throw_exception(ExceptionWithString("QMetaObject::invokeMethod() failed"));
}

void CalibReporter::ReportValue(unsigned index, double raw)
{
    Check(QMetaObject::invokeMethod(m_window, "HandleNewCalibVal", Qt::AutoConnection,
                                    Q_ARG(int, path), Q_ARG(int, int(index)), Q_ARG(int, refPoint),
                                    Q_ARG(double, theoretical), Q_ARG(double, raw)));
}

void CalibReporter::Log(const std::string& text)
{
    Check(QMetaObject::invokeMethod(m_window, "AddLogLine", Qt::AutoConnection,
                                    Q_ARG(QString, QString::fromStdString(text))));
}

void CalibReporter::FinishedWithSuccess()
{
    Check(
        QMetaObject::invokeMethod(m_window, "CalibrationFinishedWithSuccess", Qt::AutoConnection));
}

void CalibReporter::FinishedWithError(const QString& message)
{
    Check(QMetaObject::invokeMethod(m_window, "CalibrationFinishedWithError", Qt::AutoConnection,
                                    Q_ARG(QString, message)));
}

bool CalibReporter::AwaitJumpersForCurrent()
{
    bool ok = false;
    Check(QMetaObject::invokeMethod(m_window, "AwaitJumpersForCurrent",
                                    Qt::BlockingQueuedConnection, Q_RETURN_ARG(bool, ok)));
    return ok;
}

bool CalibReporter::OutputCurrentCalibFailed(const std::string& message)
{
    bool ok = false;
    Check(QMetaObject::invokeMethod(m_window, "OutputCurrentCalibFailed",
                                    Qt::BlockingQueuedConnection, Q_RETURN_ARG(bool, ok),
                                    Q_ARG(QString, QString::fromStdString(message))));
    return ok;
}
