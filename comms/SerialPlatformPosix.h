#pragma once

#include "comms/SerialPlatform.h"

// What the POSIX backend waits on, shared by its port kinds (serial devices, network ports).
namespace SerialPlatform {

struct WaitSource
{
    enum Kind { PollFd, BreakCounter };
    Kind kind = PollFd;
    int fd = -1;
    short events = 0;
    Port::Impl* port = nullptr; // BreakCounter only
};

} // namespace SerialPlatform
