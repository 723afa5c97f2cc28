#pragma once

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
    // "Failed to init comm port". Nothing stays open when it throws.
    SerialCommsThread(const SerialPortSettings& settings, IFeedback* feedback);
    ~SerialCommsThread() override;

    const SerialPortSettings& GetSettings() const { return m_settings; }

    // Opens and configures the port of settings.port, as the constructor does.
    static std::unique_ptr<SerialPlatform::Port> OpenSerialPort(const SerialPortSettings& settings);

protected:
    void CollectWaitHandles(std::vector<SerialPlatform::WaitHandle>& handles) override;
    bool HandleWaitEvent(SerialPlatform::WaitHandle signalled) override;

private:
    IFeedback* m_feedback;
    SerialPortSettings m_settings;
};
