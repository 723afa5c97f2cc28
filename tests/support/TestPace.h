#pragma once

#include <boost/chrono/duration.hpp>

// ThreadSanitizer slows the program five to fifteen times; the generous upper bounds of the
// waits in tests grow with it (a bound is only ever reached when something is wrong).
#if defined(__SANITIZE_THREAD__)
inline constexpr int TestPaceFactor = 3;
#else
inline constexpr int TestPaceFactor = 1;
#endif

// The bound of a wait on a condition or future that only a fault would reach.
inline const boost::chrono::seconds generous(10 * TestPaceFactor);
