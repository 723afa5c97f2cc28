#include "comms/SerialCommsThread.h"

#include <cerrno>

#include <boost/throw_exception.hpp>

#include "comms/NetworkPortAddress.h"

SerialCommsThread::SerialCommsThread(const SerialPortSettings& settings, IFeedback* feedback)
    : SerialCommsThread(settings, OpenSerialPort(settings), feedback)
{
}

SerialCommsThread::SerialCommsThread(const SerialPortSettings& settings,
                                     std::unique_ptr<SerialPlatform::Port> port,
                                     IFeedback* feedback)
    : CommsConnection(std::move(port), feedback, true), m_feedback(feedback), m_settings(settings)
{
    // The break counter was read when the port opened; nothing to arm here.
    ResumeThread();
}

SerialCommsThread::~SerialCommsThread()
{
    // Before this part goes: the I/O thread calls the overrides below.
    StopThread();
}

std::unique_ptr<SerialPlatform::Port>
SerialCommsThread::OpenSerialPort(const SerialPortSettings& settings,
                                  const std::atomic<bool>* abandoned)
{
    std::unique_ptr<SerialPlatform::Port> port;
    const std::string path = SerialPlatform::DevicePathOfPort(settings.port);
    if (NetworkPortAddress::LooksLikeUrl(path))
        return OpenNetworkPort(path, settings, abandoned);
    try {
        if (path.empty())
            boost::throw_exception(SerialPlatform::SystemError("no such port", ENOENT));
        port = SerialPlatform::Port::OpenExclusive(path);
    } catch (const SerialPlatform::SystemError& e) {
        boost::throw_exception(Error("Requested port is unavailable" + ErrorCodeSuffix(e.Code())));
    }
    try {
        port->Configure(settings.baudRate, settings.parity, settings.stopBits);
        port->RaiseDtrThenRts();
        // Give the device on the other end time to see the raised lines.
        SerialPlatform::SleepMilliseconds(50);
        // Last, just before the I/O thread starts: whatever waits in the input now (a late
        // reply to a request of whoever had the port before, bytes the lines shook loose) is
        // nobody's answer, and taken as the reply to our first request it would fail it.
        port->Purge();
    } catch (const SerialPlatform::SystemError&) {
        boost::throw_exception(Error("Failed to init comm port"));
    }
    return port;
}

void SerialCommsThread::CollectWaitHandles(std::vector<SerialPlatform::WaitHandle>& handles)
{
    CommsConnection::CollectWaitHandles(handles);
    if (SerialPlatform::WaitHandle breakSeen = GetPort().BreakSeen())
        handles.push_back(breakSeen);
}

bool SerialCommsThread::HandleWaitEvent(SerialPlatform::WaitHandle signalled)
{
    if (signalled && signalled == GetPort().BreakSeen()) {
        if (GetPort().TakeBreaks() && m_feedback)
            m_feedback->OnBreakDetected();
        return true;
    }
    return CommsConnection::HandleWaitEvent(signalled);
}

std::unique_ptr<SerialPlatform::Port>
SerialCommsThread::OpenNetworkPort(const std::string& url, const SerialPortSettings& settings,
                                   const std::atomic<bool>* abandoned)
{
    std::string server = url;
    try {
        server = NetworkPortAddress::Parse(url).HostAndPort();
        std::unique_ptr<SerialPlatform::Port> port =
            SerialPlatform::ConnectNetworkPort(url, networkTimeoutMs, abandoned);
        port->Configure(settings.baudRate, settings.parity, settings.stopBits);
        port->RaiseDtrThenRts();
        port->Purge();
        return port;
    } catch (const SerialPlatform::SystemError& e) {
        boost::throw_exception(Error("Cannot connect to " + server + ": " + e.what()));
    } catch (const std::exception& e) {
        boost::throw_exception(Error(e.what())); // an invalid URL
    }
}
