#include "tests/support/ScriptedComms.h"

#include <boost/throw_exception.hpp>

#include "comms/ExceptionWithString.h"
#include "modbus/ModbusCrc.h"

ScriptedComms::ScriptedComms() : m_thread([this] { Run(); }) {}

ScriptedComms::ScriptedComms(Responder responder) : ScriptedComms()
{
    SetResponder(std::move(responder));
}

ScriptedComms::~ScriptedComms()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void ScriptedComms::Transmit(const ByteVec& bytes)
{
    Responder responder;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_failures > 0) {
            --m_failures;
            boost::throw_exception(ExceptionWithString(m_failureMessage));
        }
        m_transmitted.push_back(bytes);
        responder = m_responder;
    }
    m_changed.notify_all();
    if (responder)
        Emit(responder(bytes));
}

boost::signals2::connection
ScriptedComms::ConnectDataReceived(const DataReceivedSignal::slot_type& slot)
{
    return m_signal.connect(slot);
}

void ScriptedComms::SetResponder(Responder responder)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_responder = std::move(responder);
}

void ScriptedComms::FailNextTransmits(unsigned count, const std::string& message)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failures = count;
    m_failureMessage = message;
}

void ScriptedComms::Emit(const Chunks& chunks)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const ByteVec& chunk : chunks)
            if (!chunk.empty())
                m_pending.push_back(chunk);
    }
    m_changed.notify_all();
}

std::vector<ByteVec> ScriptedComms::Transmitted() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_transmitted;
}

std::size_t ScriptedComms::TransmitCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_transmitted.size();
}

bool ScriptedComms::WaitForTransmitted(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_transmitted.size() >= count; });
}

bool ScriptedComms::WaitUntilDelivered(std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout,
                              [&] { return m_pending.empty() && !m_delivering; });
}

ScriptedComms::Chunks ScriptedComms::SingleBytes(const ByteVec& bytes)
{
    Chunks chunks;
    for (unsigned char byte : bytes)
        chunks.push_back(ByteVec{byte});
    return chunks;
}

ByteVec ScriptedComms::Frame(unsigned char address, unsigned char functionCode,
                             const ByteVec& data)
{
    ByteVec frame;
    frame.reserve(data.size() + 4);
    frame.push_back(address);
    frame.push_back(functionCode);
    frame.insert(frame.end(), data.begin(), data.end());
    AppendModbusCrc(frame);
    return frame;
}

void ScriptedComms::Run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return m_stopping || !m_pending.empty(); });
        if (m_stopping)
            return;
        ByteVec chunk = std::move(m_pending.front());
        m_pending.pop_front();
        m_delivering = true;
        // Emitted without the lock, so that slots may transmit and emit.
        lock.unlock();
        m_signal(chunk);
        lock.lock();
        m_delivering = false;
        m_changed.notify_all();
    }
}
