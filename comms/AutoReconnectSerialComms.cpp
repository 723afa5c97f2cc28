#include "comms/AutoReconnectSerialComms.h"

#include <boost/asio/error.hpp>
#include <boost/make_shared.hpp>
#include <boost/throw_exception.hpp>

#include "comms/OneShotTimer.h"
#include "comms/SerialPlatform.h"

AutoReconnectSerialComms::AutoReconnectSerialComms(IAutoReconnectSerialCommsFeedback* feedback,
                                                   const SerialPortSettings& settings)
    : m_feedback(feedback), m_openSettings(settings), m_timer(new OneShotTimer),
      m_gate(boost::make_shared<ForwardGate>())
{
    m_gate->owner = this;
    SetCommPort(settings.port);
}

AutoReconnectSerialComms::~AutoReconnectSerialComms()
{
    m_shuttingDown = true;
    {
        // Waits for a delivery in progress; later ones find no owner.
        boost::lock_guard<boost::recursive_mutex> gate(m_gate->mutex);
        m_gate->owner = nullptr;
    }
    // The timer stops before the lock is taken: its handler may be waiting for the lock. It is
    // stopped, not destroyed, because a handler already past its shutdown check may still re-arm
    // it; a stopped timer ignores that.
    m_timer->Stop();
    std::unique_ptr<SerialCommsThread> connection;
    boost::shared_ptr<ICommsInterface> substitute;
    {
        boost::unique_lock<Mutex> lock(m_mutex);
        connection.swap(m_connection);
        m_substituteForwarding.disconnect();
        substitute.swap(m_substitute);
    }
    connection.reset();
    substitute.reset();
}

void AutoReconnectSerialComms::Transmit(const ByteVec& bytes)
{
    if (m_shuttingDown)
        return;
    boost::unique_lock<Mutex> lock(m_mutex);
    if (m_connection)
        m_connection->Transmit(bytes);
    else if (m_substitute)
        m_substitute->Transmit(bytes);
}

boost::signals2::connection
AutoReconnectSerialComms::ConnectDataReceived(const DataReceivedSignal::slot_type& slot)
{
    return m_signal.connect(slot);
}

int AutoReconnectSerialComms::GetCurrentCommPort()
{
    if (m_shuttingDown)
        return 0;
    boost::unique_lock<Mutex> lock(m_mutex);
    return m_connection ? m_connection->GetSettings().port : 0;
}

void AutoReconnectSerialComms::SetCommPort(int port)
{
    if (m_shuttingDown || port == m_configuredPort)
        return;
    std::unique_ptr<SerialCommsThread> previous;
    {
        boost::unique_lock<Mutex> lock(m_mutex);
        m_commsUp = false;
        previous.swap(m_connection);
        if (previous && m_feedback)
            m_feedback->OnCommsDown(previous->GetSettings().port, std::string());
        m_configuredPort = port;
        m_lastOpenError.clear();
        ScheduleReconnect(0);
    }
    previous.reset(); // joins its thread without the lock
}

void AutoReconnectSerialComms::UseCommsInterface(boost::shared_ptr<ICommsInterface> other)
{
    if (m_shuttingDown)
        return;
    std::unique_ptr<SerialCommsThread> previousConnection;
    boost::shared_ptr<ICommsInterface> previousSubstitute;
    {
        boost::unique_lock<Mutex> lock(m_mutex);
        m_commsUp = false;
        previousConnection.swap(m_connection);
        if (previousConnection && m_feedback)
            m_feedback->OnCommsDown(previousConnection->GetSettings().port, std::string());
        m_substituteForwarding.disconnect();
        previousSubstitute = m_substitute;
        m_substitute = other;
        m_hasSubstitute = bool(other);
        ScheduleReconnect(0);
    }
    // Without the lock: their threads may be delivering to us.
    previousConnection.reset();
    previousSubstitute.reset();
}

void AutoReconnectSerialComms::ScheduleReconnect(unsigned milliseconds)
{
    const unsigned generation = ++m_timerGeneration;
    m_timer->Start(
        [this, generation](const boost::system::error_code& ec) {
            OnReconnectTimer(ec, generation);
        },
        milliseconds);
}

void AutoReconnectSerialComms::OnReconnectTimer(const boost::system::error_code& ec,
                                                unsigned generation)
{
    if (ec == boost::asio::error::operation_aborted || m_shuttingDown)
        return;
    {
        // A connection left here failed earlier (its OnCommsDown has been sent); it is joined
        // without the lock.
        std::unique_ptr<SerialCommsThread> failed;
        {
            boost::unique_lock<Mutex> lock(m_mutex);
            if (generation != m_timerGeneration)
                return;
            failed.swap(m_connection);
        }
    }
    boost::unique_lock<Mutex> lock(m_mutex);
    if (m_shuttingDown || generation != m_timerGeneration)
        return;
    if (ec) {
        if (m_feedback)
            m_feedback->HandleIrrecoverableCommsError(ec.message());
        return;
    }
    try {
        m_commsUp = false;
        m_manyPorts = false;

        if (m_substitute) {
            // Connected afresh on every pass, so the substitute's data is forwarded once.
            m_substituteForwarding.disconnect();
            m_substituteForwarding = ForwardFrom(*m_substitute);
            ReportUp();
            return;
        }
        int port = m_configuredPort;
        if (port == 0) {
            EnumerateSerialPorts(m_ports, true);
            port = ChooseAutomaticPort(m_ports);
            if (port <= 0) {
                m_manyPorts = port == manyPortsChoice;
                ScheduleReconnect(500);
                return;
            }
        }
        if (m_connection)
            boost::throw_exception(ExceptionWithString("Comms thread already exists"));
        m_openSettings.port = port;
    } catch (const std::exception& e) {
        if (m_feedback)
            m_feedback->HandleIrrecoverableCommsError(
                std::string("Error while selecting and opening a COM port: ") + e.what());
        return;
    }
    const SerialPortSettings settings = m_openSettings;
    lock.unlock();
    OpenCommPort(settings, generation);
}

void AutoReconnectSerialComms::OpenCommPort(const SerialPortSettings& settings, unsigned generation)
{
    // Opened without the lock: a network port may take seconds to connect, and the owner's
    // thread (port choice, status queries) must not wait for that.
    std::unique_ptr<SerialPlatform::Port> port;
    std::string error;
    try {
        // Closing the window must not wait for a server that does not answer.
        port = SerialCommsThread::OpenSerialPort(settings, &m_shuttingDown);
    } catch (const std::exception& e) {
        error = e.what();
    }
    boost::unique_lock<Mutex> lock(m_mutex);
    if (m_shuttingDown || generation != m_timerGeneration || m_connection) {
        lock.unlock();
        return; // another port or a substitute was chosen meanwhile; the port closes unused
    }
    m_lastOpenError = error;
    if (!port) {
        // Gone, held by another program, not configurable or not answering: try again later.
        ScheduleReconnect(500);
        return;
    }
    try {
        m_connection.reset(new SerialCommsThread(settings, std::move(port), this));
    } catch (const std::exception& e) {
        m_lastOpenError = e.what();
        ScheduleReconnect(500);
        return;
    }
    ForwardFrom(*m_connection);
    ReportUp();
}

std::string AutoReconnectSerialComms::GetLastOpenError()
{
    boost::unique_lock<Mutex> lock(m_mutex);
    return m_lastOpenError;
}

void AutoReconnectSerialComms::ReportUp()
{
    m_commsUp = true;
    if (m_feedback)
        m_feedback->OnCommsUp(GetCurrentCommPort());
}

boost::signals2::connection AutoReconnectSerialComms::ForwardFrom(ICommsInterface& source)
{
    boost::shared_ptr<ForwardGate> gate = m_gate;
    return source.ConnectDataReceived([gate](ByteVec& bytes) {
        boost::lock_guard<boost::recursive_mutex> lock(gate->mutex);
        if (gate->owner)
            gate->owner->ForwardReceivedData(bytes);
    });
}

void AutoReconnectSerialComms::ForwardReceivedData(ByteVec& bytes)
{
    if (m_shuttingDown)
        return;
    try {
        m_signal(bytes);
    } catch (const std::exception& e) {
        boost::unique_lock<Mutex> lock(m_mutex);
        if (m_feedback)
            m_feedback->HandleIrrecoverableCommsError(e.what());
    }
}

void AutoReconnectSerialComms::OnConnectionError(CommsConnection* connection,
                                                 const std::exception& error)
{
    if (m_shuttingDown)
        return;
    boost::unique_lock<Mutex> lock(m_mutex);
    if (m_shuttingDown || connection != m_connection.get())
        return; // closed or replaced meanwhile
    // Down before the report, so an owner that asks IsCommsUp() on hearing it gets the truth.
    const bool wasUp = m_commsUp;
    m_commsUp = false;
    if (wasUp && m_feedback)
        m_feedback->OnCommsDown(m_connection->GetSettings().port, error.what());
    ScheduleReconnect(500);
}

int AutoReconnectSerialComms::ChooseAutomaticPort(const std::vector<SerialPortInfo>& availablePorts)
{
    if (availablePorts.empty())
        return 0;
    if (availablePorts.size() == 1)
        return availablePorts.front().portNumber;
    const SerialPortInfo* usb = nullptr;
    int usbCount = 0;
    for (const SerialPortInfo& p : availablePorts) {
        if (p.isUsb && p.portNumber > 0) {
            usb = &p;
            ++usbCount;
        }
    }
    return usbCount == 1 ? usb->portNumber : manyPortsChoice;
}

int AutoReconnectSerialComms::EnumerateSerialPorts(std::vector<SerialPortInfo>& ports,
                                                   bool onlyAvailable)
{
    ports.clear();
    try {
        for (const SerialPlatform::PortEntry& entry : SerialPlatform::EnumeratePorts()) {
            if (onlyAvailable && !SerialPlatform::IsPortAvailable(entry.devicePath))
                continue;
            SerialPortInfo info;
            info.devicePath = entry.devicePath;
            info.friendlyName = entry.friendlyName;
            info.description = entry.description;
            info.isUsb = entry.isUsb;
            const std::size_t com = info.friendlyName.find("COM");
            if (com != std::string::npos)
                info.portNumber = std::atoi(info.friendlyName.c_str() + com + 3);
            ports.push_back(info);
        }
    } catch (const std::exception& e) {
        ports.clear();
        boost::throw_exception(ExceptionWithString(
            std::string("Failed to enumerate available serial ports: ") + e.what()));
    }
    return int(ports.size());
}
