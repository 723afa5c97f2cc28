#include "comms/SimpleSerialComms.h"

#include <boost/throw_exception.hpp>

SimpleSerialComms::SimpleSerialComms(int port, int baudRate)
{
    SerialPortSettings settings;
    settings.port = port;
    settings.baudRate = baudRate;
    settings.parity = 0;
    settings.stopBits = 1;
    m_connection = std::make_shared<SerialCommsThread>(settings, this);
    m_slot = m_connection->ConnectDataReceived(
        [this](ByteVec& bytes) { OnDataReceived(bytes); });
}

SimpleSerialComms::~SimpleSerialComms()
{
    // The I/O thread stops before the queue and the synchronisation objects go.
    m_slot.disconnect();
    m_connection.reset();
}

void SimpleSerialComms::Transmit(const ByteVec& bytes)
{
    m_connection->Transmit(bytes);
}

unsigned char SimpleSerialComms::ReadByte(int timeoutMs)
{
    boost::unique_lock<boost::mutex> lock(m_mutex);
    if (timeoutMs == -2)
        timeoutMs = defaultTimeoutMs;
    if (timeoutMs < -1)
        boost::throw_exception(ExceptionWithString("invalid timeout value"));
    // Woken by data or by the connection's failure; spurious wake-ups do not end the wait.
    auto ready = [this] { return !m_received.empty() || !m_errorText.empty(); };
    if (timeoutMs == -1)
        m_received_cv.wait(lock, ready);
    else if (timeoutMs > 0)
        m_received_cv.wait_for(lock, boost::chrono::milliseconds(timeoutMs), ready);
    if (!m_errorText.empty())
        boost::throw_exception(ExceptionWithString(m_errorText));
    if (m_received.empty())
        boost::throw_exception(
            TimedOutError("timeout occurred while waiting to receive serial data"));
    const unsigned char b = m_received.front();
    m_received.pop_front();
    return b;
}

void SimpleSerialComms::OnDataReceived(ByteVec& bytes)
{
    {
        boost::lock_guard<boost::mutex> lock(m_mutex);
        m_received.insert(m_received.end(), bytes.begin(), bytes.end());
        bytes.clear();
    }
    m_received_cv.notify_all();
}

void SimpleSerialComms::OnConnectionError(CommsConnection*, const std::exception& error)
{
    {
        boost::lock_guard<boost::mutex> lock(m_mutex);
        m_errorText = error.what();
    }
    // A reader waiting on a dead port learns it now rather than at the end of its time-out.
    m_received_cv.notify_all();
}
