#include "calibration/CalibrationMapping.h"

#include <cmath>
#include <string>

#include <boost/throw_exception.hpp>

#include "comms/ExceptionWithString.h"
#include "protocol/TolvarenCommsCommon.h"

namespace {
const double smallestGradient = 1e-5;
}

CalibrationMapping::CalibrationMapping(int pathType, TolvarenCommsCommon& card)
    : m_pathType(pathType), m_card(card)
{
    if (pathType != 0 && pathType != 1)
        boost::throw_exception(ExceptionWithString("sanity"));
    // Voltage: blocks 0 (intercepts) and 1 (gradients); current: blocks 2 and 3.
    const std::uint8_t first = static_cast<std::uint8_t>(2 * pathType);
    m_intercepts = m_card.ReadCalibrationBlock(first).get();
    m_gradients = m_card.ReadCalibrationBlock(static_cast<std::uint8_t>(first + 1)).get();
}

void CalibrationMapping::CheckPointStored(unsigned index) const
{
    if (index >= m_intercepts.size() || index >= m_gradients.size()) {
        boost::throw_exception(ExceptionWithString(
            "the measuring card's calibration data holds no value for IO point number " +
            std::to_string(index + 1)));
    }
}

double CalibrationMapping::Map(unsigned index, double x) const
{
    CheckPointStored(index);
    const double gradient = m_gradients[index];
    if (std::fabs(gradient) < smallestGradient)
        boost::throw_exception(ExceptionWithString("Gradient too small"));
    return (x - double(m_intercepts[index])) / gradient;
}

double CalibrationMapping::RealFromRaw(unsigned index, double raw) const
{
    CheckPointStored(index);
    return double(m_gradients[index]) * raw + double(m_intercepts[index]);
}
