#pragma once

#include <array>
#include <deque>

// The last three keys typed without modifiers, one record for the whole program (every main
// window feeds it), and the four factory service codes they are compared with. A code is three
// upper-case letters that a technician seldom types by accident; none uses R, which shows raw
// values on the card face while held.
//
// Threads: user-interface thread only.
class ServiceKeyRing
{
public:
    enum Service {
        NoService = -1,
        CalibrationEntry = 0, // Q X C
        BuildDate = 1,        // Q X B
        NamedVariables = 2,   // Q X V
        EepromWipe = 3,       // Q X Z
    };

    typedef std::array<int, 3> Code;

    // The record shared by all main windows, made on first use.
    static ServiceKeyRing& Shared();
    // The Qt key codes of each service, indexed by Service.
    static const std::array<Code, 4>& Codes();

    // Records a key code (Qt::Key); the service whose code the last three keys spell, if any.
    // The record is kept after a match.
    Service Add(int key);

private:
    std::deque<int> m_keys;
};
