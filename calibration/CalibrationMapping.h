#pragma once

#include <vector>

class TolvarenCommsCommon;

// A calibrated Input Card used as a measuring instrument: its stored line for one path (0
// voltage, 1 current) read at construction, turning a real value into the raw value the card
// should read (Map) and a raw reading into the real value (RealFromRaw).
//
// Threads: built and used by the thread of one calibration run. The block reads wait on boost
// futures, so they are thread-interruption points. The card must outlive the mapping.
class CalibrationMapping
{
public:
    // Reads the path's intercepts and gradients (blocks 0 and 1, or 2 and 3); any other
    // pathType fails with "sanity" before anything is read.
    CalibrationMapping(int pathType, TolvarenCommsCommon& card);

    // The raw value that input index should read for the real value x. A gradient under 1e-5
    // in magnitude fails with "Gradient too small"; a point the card has no value for fails
    // with a message naming it (a card may return shorter blocks than 16 values).
    double Map(unsigned index, double x) const;
    // The real value of a raw reading of input index: intercept + gradient x raw.
    double RealFromRaw(unsigned index, double raw) const;

    int PathType() const { return m_pathType; }
    const std::vector<float>& Intercepts() const { return m_intercepts; }
    const std::vector<float>& Gradients() const { return m_gradients; }

private:
    void CheckPointStored(unsigned index) const;

    int m_pathType;
    TolvarenCommsCommon& m_card;
    std::vector<float> m_intercepts;
    std::vector<float> m_gradients;
};
