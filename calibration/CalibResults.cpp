#include "calibration/CalibResults.h"

#include <stdexcept>

CalibResults::PointValues CalibResults::Lookup(const PathMap& map, int path)
{
    const auto found = map.find(path);
    return found == map.end() ? PointValues{} : found->second;
}

CalibResults::PointValues& CalibResults::Entry(PathMap& map, int path)
{
    // A new path starts as 16 zeros, so the points not fitted (current on outputs 1-12) stay 0.
    return map.emplace(path, PointValues{}).first->second;
}

void CalibResults::SetLine(int path, unsigned index, float intercept, float gradient)
{
    Entry(m_intercepts, path).at(index) = intercept;
    Entry(m_gradients, path).at(index) = gradient;
}

void CalibResults::SetPullUpOhms(int path, unsigned index, float ohms)
{
    Entry(m_pullUpOhms, path).at(index) = ohms;
}
