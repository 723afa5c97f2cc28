#pragma once

#include "comms/ByteVec.h"
#include "comms/ExceptionWithString.h"
#include "comms/SimpleSerialComms.h"

// The framed request/reply link to the calibration board over its own COM port. A frame is a
// length byte N, N data bytes and a checksum that makes the data bytes sum to 0 modulo 256; a
// request's data are the command code and its payload, a reply's the echoed command code, the
// status and the reply payload.
//
// Threads: one thread at a time (the GUI thread for an interactive operation, the calibration
// thread during a run). The port stays open for the link's life; each operation that needs the
// board builds its own link and destroys it when done, which closes the port.
class CalibBoardLink
{
public:
    // The link's own failures; a time-out or a port failure comes from SimpleSerialComms.
    class Error : public ExceptionWithString
    {
    public:
        explicit Error(const std::string& message) : ExceptionWithString(message) {}
    };

    static constexpr int BaudRate = 9600;
    static constexpr int DefaultTimeoutMs = 1000; // for each byte of a reply

    // Opens COM<port> at 9600 baud with the per-byte reply time-out of 1000 ms. Throws
    // SerialCommsThread::Error when the port cannot be opened.
    explicit CalibBoardLink(int port);

    // Sends command with payload and reads its reply; returns the reply's status byte. When
    // replyPayload is given it receives the reply's data bytes 2 onwards. Throws Error for a
    // request of 256 data bytes or more (nothing is sent), a checksum failure, a reply shorter
    // than echo and status, a reply to another command, and, with RequireAck, a status other
    // than ACK; SimpleSerialComms::TimedOutError when a reply byte does not come in time.
    unsigned char Transact(unsigned char command, const ByteVec& payload = ByteVec(),
                           ByteVec* replyPayload = nullptr);

    // Sends a data block built whole by the caller and returns the reply's data bytes after
    // the size and checksum checks only; the caller checks echo and status itself.
    ByteVec RawTransact(const ByteVec& dataBlock);

    SimpleSerialComms& Comms() { return m_comms; }

    bool RequireAck = true;

private:
    SimpleSerialComms m_comms;
};
