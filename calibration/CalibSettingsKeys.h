#pragma once

#include <array>

#include <QString>
#include <QVariant>

class QSettings;

// The calibration subsystem's keys in the application's settings store, and their defaults.
// Stored settings rely on the spelling of each key, typos included.
//
// Threads: the GUI thread (QSettings is not shared between threads).
namespace CalibSettingsKeys {

constexpr const char* CalibBoardPortNum = "Calib.CalibBoardPortNum";           // unsigned
constexpr const char* LastCalibWasOutputCard = "Calib.LastCalibWasOutputCard"; // bool
constexpr const char* LogDirectory = "Calib.LogDirectory";                     // string
constexpr const char* OverwiteLogs = "Calib.OverwiteLogs";                     // bool

// Field texts of the Output Card's references, in the order of the first four parameters.
constexpr const char* OutputVoltsA = "Calib.OutputCalParams.voltsA";
constexpr const char* OutputVoltsB = "Calib.OutputCalParams.voltsB";
constexpr const char* OutputMilliAmpsA = "Calib.OutputCalParams.milliAmpsA";
constexpr const char* OutputMilliAmpsB = "Calib.OutputCalParams.milliAmpsB";
constexpr std::array<const char*, 4> OutputParamKeys = {OutputVoltsA, OutputVoltsB,
                                                        OutputMilliAmpsA, OutputMilliAmpsB};

// Jitter allowance texts (raw ADC counts), one pair for each card kind.
constexpr const char* OutputAllowJitterVR = "Calib.OutputCalParams.allowJitterVR";
constexpr const char* OutputAllowJitterI = "Calib.OutputCalParams.allowJitterI";
constexpr const char* InputAllowJitterVR = "Calib.InputCalParams.allowJitterVR";
constexpr const char* InputAllowJitterI = "Calib.InputCalParams.allowJitterI";

// The default of a key of this namespace (the log directory: the system's temporary folder);
// an invalid QVariant for any other key.
QVariant DefaultOf(const QString& key);

// The stored value of key, or its default when none is stored.
QVariant Read(const QSettings& settings, const QString& key);

} // namespace CalibSettingsKeys
