#pragma once

#include <chrono>
#include <functional>
#include <thread>

#include "tests/support/TestPace.h"

// Waits for a condition that no signal announces (a flag polled by the program itself), checking
// it every few milliseconds, up to a generous bound. True when it came true.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds bound = std::chrono::seconds(10 * TestPaceFactor))
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
