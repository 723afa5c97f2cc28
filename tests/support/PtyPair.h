#pragma once

#include <chrono>
#include <string>

#include "comms/ByteVec.h"

// A pseudo-terminal pair standing in for a serial port: the program opens SlavePath() as its
// port, the test plays the device through the master side. The pair keeps a slave descriptor
// of its own (raw mode, no echo), so the master can be read while the port is closed.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return m_slavePath; }
    int MasterFd() const { return m_master; }

    // Bytes the device sends to the port.
    void Write(const ByteVec& bytes);
    // Bytes the port sent: exactly count of them, or fewer if timeout passes first.
    ByteVec Read(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Whatever the port sent within the given time (empty when nothing came).
    ByteVec ReadFor(std::chrono::milliseconds time);

    // The device goes away: the port sees a hang-up.
    void CloseMaster();

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
};
