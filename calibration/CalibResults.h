#pragma once

#include <array>
#include <map>

// What a calibration run found for each path (0 voltage, 1 current, 2 low-range resistance,
// 3 high-range resistance): the fitted line and the pull-up resistance of each of the 16
// points, kept as the card stores them (binary32). A path never written reads as 16 zeros.
//
// Threads: owned and used by the thread of one run.
class CalibResults
{
public:
    static constexpr unsigned numPoints = 16;
    typedef std::array<float, numPoints> PointValues;

    PointValues Intercepts(int path) const { return Lookup(m_intercepts, path); }
    PointValues Gradients(int path) const { return Lookup(m_gradients, path); }
    PointValues PullUpOhms(int path) const { return Lookup(m_pullUpOhms, path); }

    void SetLine(int path, unsigned index, float intercept, float gradient);
    void SetPullUpOhms(int path, unsigned index, float ohms);

private:
    typedef std::map<int, PointValues> PathMap;
    static PointValues Lookup(const PathMap& map, int path);
    static PointValues& Entry(PathMap& map, int path);

    PathMap m_intercepts;
    PathMap m_gradients;
    PathMap m_pullUpOhms;
};
