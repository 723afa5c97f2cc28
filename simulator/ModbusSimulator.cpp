#include "simulator/ModbusSimulator.h"

#include <algorithm>

#include <boost/thread/lock_guard.hpp>

#include "modbus/ModbusCrc.h"

namespace {

// RTU frame limit: address, function code, 252 data bytes, CRC.
const std::size_t maxReplyData = 252;
const int deviceFailure = 4;

} // namespace

ModbusSimulator::ModbusSimulator() = default;

ModbusSimulator::~ModbusSimulator() = default;

void ModbusSimulator::FrameHandled(const ByteVec&, const ByteVec*) {}

void ModbusSimulator::Transmit(const ByteVec& frame)
{
    if (frame.size() < 4 || frame[0] != m_nodeAddress)
        return;
    const unsigned char functionCode = frame[1];
    const ByteVec requestData(frame.begin() + 2, frame.end() - 2);

    ByteVec replyData;
    boost::unique_lock<boost::mutex> lock(m_stateMutex);
    int result = HandleRequest(functionCode, requestData, replyData);
    if (result == NoReply) {
        FrameHandled(frame, nullptr);
        return;
    }
    // A reply that cannot be framed is the device's fault, not the master's.
    if (result == 0 && replyData.size() > maxReplyData)
        result = deviceFailure;

    ByteVec reply;
    reply.reserve(replyData.size() + 4);
    reply.push_back(m_nodeAddress);
    if (result != 0) {
        reply.push_back(static_cast<unsigned char>(functionCode | 0x80));
        reply.push_back(static_cast<unsigned char>(result));
    } else {
        reply.push_back(functionCode);
        reply.insert(reply.end(), replyData.begin(), replyData.end());
    }
    AppendModbusCrc(reply);
    FrameHandled(frame, &reply);
    // Queued while the state lock is still held, so replies leave in the order the requests
    // were handled.
    QueueReply(std::move(reply));
}

boost::signals2::connection
ModbusSimulator::ConnectDataReceived(const DataReceivedSignal::slot_type& slot)
{
    return m_dataReceived.connect(slot, boost::signals2::at_back);
}

void ModbusSimulator::SetReplyDelay(unsigned milliseconds)
{
    m_replyDelayMs = milliseconds;
}

void ModbusSimulator::SetReplyChunkSize(std::size_t bytes)
{
    m_chunkSize = bytes;
}

void ModbusSimulator::HoldReplies()
{
    boost::lock_guard<boost::mutex> lock(m_replyMutex);
    m_held = true;
}

void ModbusSimulator::ReleaseReplies()
{
    boost::lock_guard<boost::mutex> lock(m_replyMutex);
    m_held = false;
    if (!m_replies.empty())
        m_timer.Start([this](const boost::system::error_code& ec) { DeliverQueuedReplies(ec); },
                      m_replyDelayMs);
}

void ModbusSimulator::QueueReply(ByteVec&& frame)
{
    boost::lock_guard<boost::mutex> lock(m_replyMutex);
    const bool wasEmpty = m_replies.empty();
    m_replies.push_back(std::move(frame));
    // A non-empty queue always has a delivery pending or running that will drain it, so the
    // timer is started only for the first reply of a batch.
    if (wasEmpty && !m_held)
        m_timer.Start([this](const boost::system::error_code& ec) { DeliverQueuedReplies(ec); },
                      m_replyDelayMs);
}

void ModbusSimulator::DeliverQueuedReplies(const boost::system::error_code&)
{
    for (;;) {
        ByteVec frame;
        {
            boost::lock_guard<boost::mutex> lock(m_replyMutex);
            if (m_replies.empty() || m_held)
                return;
            frame = std::move(m_replies.front());
            m_replies.pop_front();
        }
        Emit(frame);
    }
}

void ModbusSimulator::Emit(ByteVec& frame)
{
    const std::size_t chunk = m_chunkSize;
    if (chunk == 0 || chunk >= frame.size()) {
        m_dataReceived(frame);
        return;
    }
    for (std::size_t pos = 0; pos < frame.size(); pos += chunk) {
        ByteVec piece(frame.begin() + pos,
                      frame.begin() + std::min(frame.size(), pos + chunk));
        m_dataReceived(piece);
    }
}
