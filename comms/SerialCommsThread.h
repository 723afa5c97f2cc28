#pragma once

#include <atomic>

#include "comms/CommsConnection.h"
#include "comms/SerialPortSettings.h"

// A CommsConnection on a COM port that it opens and configures itself, with break monitoring.
// Threads as CommsConnection; OnBreakDetected runs on the I/O thread.
class SerialCommsThread : public CommsConnection
{
public:
    class Error : public ExceptionWithString
    {
    public:
        explicit Error(const std::string& message) : ExceptionWithString(message) {}
    };

    // How the connection reports to its owner.
    class IFeedback : public ICommsConnectionFeedback
    {
    public:
        // A break condition was seen on the line. Not every driver counts breaks.
        virtual void OnBreakDetected() {}

    protected:
        ~IFeedback() = default;
    };

    // Opens COM<settings.port>; throws Error "Requested port is unavailable (error-code N)" or
    // "Failed to init comm port", for a network port "Cannot connect to HOST:PORT: reason".
    // Nothing stays open when it throws. A network port may take up to a few times
    // networkTimeoutMs to connect: never construct one on the user-interface thread.
    SerialCommsThread(const SerialPortSettings& settings, IFeedback* feedback);
    // Serves a port opened already by OpenSerialPort(settings) (which may take long, and is
    // better done without locks held).
    SerialCommsThread(const SerialPortSettings& settings,
                      std::unique_ptr<SerialPlatform::Port> port, IFeedback* feedback);
    ~SerialCommsThread() override;

    const SerialPortSettings& GetSettings() const { return m_settings; }

    // Opens and configures the port of settings.port, as the constructor does.
    // Connecting to a network port gives up soon once abandoned (if given) is set; it must
    // outlive the port.
    static std::unique_ptr<SerialPlatform::Port>
    OpenSerialPort(const SerialPortSettings& settings,
                   const std::atomic<bool>* abandoned = nullptr);
    // Connects to the network port url and sets its line as settings say.
    static std::unique_ptr<SerialPlatform::Port>
    OpenNetworkPort(const std::string& url, const SerialPortSettings& settings,
                    const std::atomic<bool>* abandoned = nullptr);
    // Bound of each step of connecting to a network port (connect, negotiation, line setting).
    static constexpr unsigned networkTimeoutMs = 3000;

protected:
    void CollectWaitHandles(std::vector<SerialPlatform::WaitHandle>& handles) override;
    bool HandleWaitEvent(SerialPlatform::WaitHandle signalled) override;

private:
    IFeedback* m_feedback;
    SerialPortSettings m_settings;
};
