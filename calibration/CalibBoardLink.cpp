#include "calibration/CalibBoardLink.h"

#include <boost/throw_exception.hpp>

namespace {

const std::size_t maxDataBlock = 255; // the length byte counts the data bytes

[[noreturn]] void Fail(const char* text)
{
    boost::throw_exception(CalibBoardLink::Error(text));
}

} // namespace

CalibBoardLink::CalibBoardLink(int port) : m_comms(port, BaudRate)
{
    m_comms.defaultTimeoutMs = DefaultTimeoutMs;
}

unsigned char CalibBoardLink::Transact(unsigned char command, const ByteVec& payload,
                                       ByteVec* replyPayload)
{
    ByteVec request;
    request.reserve(payload.size() + 1);
    request.push_back(command);
    request.insert(request.end(), payload.begin(), payload.end());
    const ByteVec reply = RawTransact(request);

    if (reply.size() < 2)
        Fail("reply too short");
    if (reply[0] != command)
        Fail("reply does not correspond to requested command");
    if (replyPayload)
        replyPayload->assign(reply.begin() + 2, reply.end());
    const unsigned char status = reply[1];
    if (status != 0 && RequireAck)
        Fail("reply to command was not an ACK");
    return status;
}

ByteVec CalibBoardLink::RawTransact(const ByteVec& dataBlock)
{
    if (dataBlock.size() > maxDataBlock)
        Fail("request size too large");
    // A frame of no data bytes is no request the board knows; it would only answer it with
    // silence.
    if (dataBlock.empty())
        Fail("request has no command byte");

    ByteVec frame;
    frame.reserve(dataBlock.size() + 2);
    frame.push_back(static_cast<unsigned char>(dataBlock.size()));
    unsigned char sum = 0;
    for (unsigned char b : dataBlock) {
        frame.push_back(b);
        sum = static_cast<unsigned char>(sum + b);
    }
    frame.push_back(static_cast<unsigned char>(-sum));
    // Bytes that arrived before the request stay queued: they are read as the reply.
    m_comms.Transmit(frame);

    const unsigned length = m_comms.ReadByte(-2);
    ByteVec reply;
    reply.reserve(length);
    sum = 0;
    for (unsigned i = 0; i < length; ++i) {
        reply.push_back(m_comms.ReadByte(-2));
        sum = static_cast<unsigned char>(sum + reply.back());
    }
    sum = static_cast<unsigned char>(sum + m_comms.ReadByte(-2));
    if (sum != 0)
        Fail("checksum failure");
    return reply;
}
