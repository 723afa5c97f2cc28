#pragma once

#include <deque>
#include <memory>
#include <string>

#include <boost/signals2/connection.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

#include "comms/SerialCommsThread.h"

// A fixed COM port with a blocking, byte-at-a-time read (the calibration board's link).
//
// Threads: Transmit and ReadByte on the caller's thread (one reader at a time); the receive slot
// and OnConnectionError on the connection's I/O thread. received and the error text are shared
// under one mutex.
class SimpleSerialComms : public SerialCommsThread::IFeedback
{
public:
    class TimedOutError : public ExceptionWithString
    {
    public:
        explicit TimedOutError(const std::string& message) : ExceptionWithString(message) {}
    };

    // Opens COM<port> at baudRate, no parity, one stop bit; errors of SerialCommsThread propagate.
    SimpleSerialComms(int port, int baudRate);
    ~SimpleSerialComms();
    SimpleSerialComms(const SimpleSerialComms&) = delete;
    SimpleSerialComms& operator=(const SimpleSerialComms&) = delete;

    // Circbuf::Error "no room" when the send queue is full.
    void Transmit(const ByteVec& bytes);

    // The oldest received byte, waiting for one if none is there: timeoutMs -2 uses
    // defaultTimeoutMs, -1 waits for ever, 0 does not wait, n > 0 waits at most n ms.
    // Throws TimedOutError, the connection's failure text once it has failed, or
    // ExceptionWithString "invalid timeout value".
    unsigned char ReadByte(int timeoutMs = -2);

    void OnConnectionError(CommsConnection* connection, const std::exception& error) override;

    int defaultTimeoutMs = -1;

private:
    void OnDataReceived(ByteVec& bytes);

    boost::mutex m_mutex;
    boost::condition_variable m_received_cv;
    std::deque<unsigned char> m_received;
    std::string m_errorText;
    std::shared_ptr<SerialCommsThread> m_connection;
    boost::signals2::scoped_connection m_slot;
};
