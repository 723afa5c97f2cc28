#include "calibration/CalibSettingsKeys.h"

#include <QDir>
#include <QSettings>

namespace CalibSettingsKeys {

QVariant DefaultOf(const QString& key)
{
    if (key == CalibBoardPortNum)
        return QVariant(0u);
    if (key == LastCalibWasOutputCard)
        return QVariant(false);
    if (key == LogDirectory)
        return QVariant(QDir::tempPath());
    if (key == OverwiteLogs)
        return QVariant(true);
    for (const char* outputKey : OutputParamKeys) {
        if (key == outputKey)
            return QVariant(QString());
    }
    if (key == OutputAllowJitterVR || key == OutputAllowJitterI || key == InputAllowJitterVR ||
        key == InputAllowJitterI)
        return QVariant(QStringLiteral("1"));
    return QVariant();
}

QVariant Read(const QSettings& settings, const QString& key)
{
    return settings.value(key, DefaultOf(key));
}

} // namespace CalibSettingsKeys
