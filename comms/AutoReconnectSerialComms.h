#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <boost/system/error_code.hpp>
#include <boost/thread/recursive_mutex.hpp>

#include "comms/IAutoReconnectSerialCommsFeedback.h"
#include "comms/ICommsInterface.h"
#include "comms/SerialCommsThread.h"
#include "comms/SerialPortSettings.h"

class OneShotTimer;

// One enumerated COM port.
struct SerialPortInfo
{
    int portNumber = 0;         // the number after the first "COM" of the friendly name; 0: none
    std::string devicePath;
    std::string friendlyName;   // "COMn - description (path)"
    bool isUsb = false;
    std::string description;
};

// The ICommsInterface the Modbus master talks to for the life of the main window. It keeps a
// SerialCommsThread open on the configured COM port (or on the one port it finds by itself),
// re-opens it every 500 ms after a failure, reports up/down through its feedback, and can route
// everything through a substitute interface (the simulated card) instead.
//
// Threads: the owner's thread (SetCommPort, UseCommsInterface, queries), any thread (Transmit),
// the timer thread (reconnecting), the connection's or substitute's thread (forwarded data,
// failure report). One recursive mutex serialises them; feedback calls are made with it held.
// Received data is forwarded without that mutex, and connections are destroyed (their threads
// joined) without it: a receiver that holds its own lock while it transmits to us (the Modbus
// datalink does) can then never deadlock against a delivery or a port change.
class AutoReconnectSerialComms : public ICommsInterface, public SerialCommsThread::IFeedback
{
public:
    AutoReconnectSerialComms(IAutoReconnectSerialCommsFeedback* feedback,
                             const SerialPortSettings& settings);
    ~AutoReconnectSerialComms() override;
    AutoReconnectSerialComms(const AutoReconnectSerialComms&) = delete;
    AutoReconnectSerialComms& operator=(const AutoReconnectSerialComms&) = delete;

    // Bytes go to the open port or the substitute; with neither they are dropped.
    void Transmit(const ByteVec& bytes) override;
    boost::signals2::connection
    ConnectDataReceived(const DataReceivedSignal::slot_type& slot) override;

    // 0 selects automatically; n uses COMn only. The same port again changes nothing.
    void SetCommPort(int port);
    // Routes everything through other instead of a port (null returns to ports).
    void UseCommsInterface(boost::shared_ptr<ICommsInterface> other);

    // Read without the lock, for status lines and saved settings.
    bool IsCommsUp() const { return m_commsUp.load(); }
    bool ManyPortsAvailable() const { return m_manyPorts.load(); }
    int GetConfiguredCommPort() const { return m_configuredPort.load(); }
    bool HasSubstitute() const { return m_hasSubstitute.load(); }
    // The port of the open connection; 0 when none is open (or a substitute is in use).
    int GetCurrentCommPort();
    // Why the last attempt to open the port failed ("Cannot connect to HOST:PORT: ..."); empty
    // when it succeeded or no attempt has been made since the port was chosen.
    std::string GetLastOpenError();

    // Lists the COM ports present (onlyAvailable: only those no one holds) and returns their
    // number. Throws ExceptionWithString "Failed to enumerate available serial ports: ...".
    static int EnumerateSerialPorts(std::vector<SerialPortInfo>& ports, bool onlyAvailable);
    // The automatic choice among the available ports: the only one, else the only USB one.
    // 0 when there is none, manyPortsChoice when the user must choose.
    static const int manyPortsChoice = -1;
    static int ChooseAutomaticPort(const std::vector<SerialPortInfo>& availablePorts);

    void OnConnectionError(CommsConnection* connection, const std::exception& error) override;

private:
    typedef boost::recursive_mutex Mutex;

    void ScheduleReconnect(unsigned milliseconds);
    void OnReconnectTimer(const boost::system::error_code& ec, unsigned generation);
    void OpenCommPort(const SerialPortSettings& settings, unsigned generation);
    void ReportUp();
    void CloseConnectionReportingDown();
    void ForwardReceivedData(ByteVec& bytes);
    // Connects forwarding of source's data to this object's signal.
    boost::signals2::connection ForwardFrom(ICommsInterface& source);

    // Kept alive by every forwarding slot, so that a chunk being delivered while this object
    // goes away finds out, and the destructor waits for a delivery in progress.
    struct ForwardGate
    {
        boost::recursive_mutex mutex;
        AutoReconnectSerialComms* owner;
    };

    IAutoReconnectSerialCommsFeedback* m_feedback;
    std::atomic<bool> m_shuttingDown{false};
    Mutex m_mutex;
    DataReceivedSignal m_signal;
    std::unique_ptr<SerialCommsThread> m_connection;
    boost::shared_ptr<ICommsInterface> m_substitute;
    boost::signals2::connection m_substituteForwarding;
    std::atomic<bool> m_hasSubstitute{false};
    std::atomic<bool> m_commsUp{false};
    std::atomic<bool> m_manyPorts{false};
    std::atomic<int> m_configuredPort{-1};
    SerialPortSettings m_openSettings;
    // Every (re)arming gets a new generation, so an expiry that a later arming replaced is
    // recognised and ignored.
    unsigned m_timerGeneration = 0;
    std::unique_ptr<OneShotTimer> m_timer;
    std::vector<SerialPortInfo> m_ports;
    std::string m_lastOpenError;
    boost::shared_ptr<ForwardGate> m_gate;
};
