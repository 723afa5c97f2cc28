#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <mutex>

#include "comms/ByteVec.h"
#include "simulator/CalibBoardRoute.h"

// A calibration board as its serial peer sees it: it takes request bytes as they arrive (whole
// frames or pieces), answers each complete frame, keeps 128 bytes of EEPROM (erased, 0xFF, when
// it starts) and routes one reference to one input of the card under test.
//
// Frames: a length byte N (1..255), N data bytes (command code, then payload) and a checksum
// that makes the data bytes sum to 0 modulo 256. A frame with a wrong checksum is dropped
// without a reply, as the board cannot trust even its command code; the tool sees a time-out.
// A length byte of 0 starts no frame and is skipped. Replies: echoed command code, status
// (0 ACK), payload. Refusals are a NAK status: NakUnknownCommand for a command code it does not
// know, NakBadRequest for a payload of the wrong size or a value out of range (nothing changes).
//
// Threads: every member may be called from any thread; the board is one lock. The routing
// observer runs on the thread that fed the request, after the lock has been released.
class SimulatedCalibBoard
{
public:
    static constexpr std::size_t EepromSize = 128;
    static constexpr unsigned InputCount = 16;
    static constexpr unsigned char NakUnknownCommand = 1;
    static constexpr unsigned char NakBadRequest = 2;

    SimulatedCalibBoard();

    // Request bytes from the tool; returns the reply frames to every frame they complete, in
    // order (empty when none is complete yet).
    ByteVec Receive(const unsigned char* bytes, std::size_t count);
    ByteVec Receive(const ByteVec& bytes) { return Receive(bytes.data(), bytes.size()); }
    // Forgets an unfinished request (the line was quiet for too long to be inside a frame).
    void DropPartialFrame();

    void SetVersion(unsigned char version);
    ByteVec Eeprom() const;
    void SetEeprom(std::size_t offset, const ByteVec& bytes); // clipped at the end
    // Failure injection: a worn EEPROM acknowledges writes and keeps its old content.
    void SetIgnoreEepromWrites(bool ignore);

    CalibBoardRoute RouteOf(unsigned input) const; // no route for an input beyond the last
    // Called after a SetConfig that changed the routing; null for none.
    void SetRoutingObserver(std::function<void()> observer);

    // Frames dropped for their checksum.
    std::size_t ChecksumFailures() const;

private:
    // Appends the reply to the complete frame data (command and payload) to reply.
    void Answer(const ByteVec& data, ByteVec& reply, bool& routingChanged);
    unsigned char SetConfig(const ByteVec& data, bool& routingChanged);

    mutable std::mutex m_mutex;
    ByteVec m_pending;
    unsigned char m_version = 1;
    std::array<unsigned char, EepromSize> m_eeprom;
    bool m_ignoreEepromWrites = false;
    std::array<CalibBoardRoute, InputCount> m_routes{};
    std::function<void()> m_routingObserver;
    std::size_t m_checksumFailures = 0;
};
