#include "calibration/CalibrationRun.h"

#include <QMetaObject>
#include <QObject>
#include <QString>

#include <boost/chrono.hpp>

// A stand-in run: it logs one line, waits a little (interruptibly) and reports success, so that
// the calibration window can be driven before the procedures are in place.
boost::thread StartCalibrationRun(const CalibrationRunInputs& inputs, QObject* window)
{
    return boost::thread([inputs, window] {
        try {
            QMetaObject::invokeMethod(window, "AddLogLine", Qt::QueuedConnection,
                                      Q_ARG(QString, QStringLiteral("Calibration run started")));
            if (inputs.sleep)
                inputs.sleep(200);
            else
                boost::this_thread::sleep_for(boost::chrono::milliseconds(200));
            QMetaObject::invokeMethod(window, "CalibrationFinishedWithSuccess",
                                      Qt::QueuedConnection);
        } catch (const boost::thread_interrupted&) {
            // Cancelled: the run ends silently.
        }
    });
}
