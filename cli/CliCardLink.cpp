#include "cli/CliCardLink.h"

#include <cctype>
#include <cstdlib>
#include <vector>

#include <limits.h>

#include "cli/CliErrors.h"
#include "comms/AutoReconnectSerialComms.h"
#include "comms/NetworkPortAddress.h"
#include "comms/SerialCommsThread.h"
#include "comms/SerialPlatform.h"
#include "modbus/ModbusMasterDatalink.h"

namespace {

const char extraPortsVariable[] = "TOLVAREN_EXTRA_SERIAL_PORTS";
const int firstExtraPort = 300;

// The path with links resolved, or the path itself when it cannot be resolved.
std::string Canonical(const std::string& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

int NumberOfDevice(const std::string& path)
{
    std::vector<SerialPortInfo> ports;
    AutoReconnectSerialComms::EnumerateSerialPorts(ports, false);
    const std::string wanted = Canonical(path);
    for (const SerialPortInfo& port : ports)
        if (port.portNumber > 0 && Canonical(port.devicePath) == wanted)
            return port.portNumber;

    // Not a port of this machine's list: served by the process itself as the next extra port,
    // whose number the list then shows (a network port URL holds colons of its own).
    const char* current = std::getenv(extraPortsVariable);
    std::string list = current ? current : "";
    int index = 0;
    for (char c : list)
        index += c == ':' ? 1 : 0;
    if (!list.empty())
        ++index;
    list += (list.empty() ? "" : ":") + path;
    ::setenv(extraPortsVariable, list.c_str(), 1);
    AutoReconnectSerialComms::EnumerateSerialPorts(ports, false);
    for (const SerialPortInfo& port : ports)
        if (port.portNumber >= firstExtraPort && port.devicePath == path)
            return port.portNumber;
    return firstExtraPort + index; // a path that is not there: its opening says so
}

int AutomaticPort()
{
    std::vector<SerialPortInfo> ports;
    AutoReconnectSerialComms::EnumerateSerialPorts(ports, true);
    const int chosen = AutoReconnectSerialComms::ChooseAutomaticPort(ports);
    if (chosen == AutoReconnectSerialComms::manyPortsChoice)
        throw Cli::Error(Cli::NoPort,
                         "Many ports available - manual choice needed (choose one with --port)");
    if (chosen <= 0)
        throw Cli::Error(Cli::NoPort, "No ports found");
    return chosen;
}

} // namespace

int CliCardLink::ResolvePort(const std::string& portText)
{
    try {
        if (portText.empty())
            return AutomaticPort();
        if (NetworkPortAddress::LooksLikeUrl(portText)) {
            // Checked here, so that a mistyped URL is a usage error, not a port that fails.
            NetworkPortAddress::Parse(portText);
            return NumberOfDevice(portText);
        }
        if (portText.find('/') != std::string::npos)
            return NumberOfDevice(portText);
    } catch (const Cli::Error&) {
        throw;
    } catch (const ExceptionWithString& e) {
        if (NetworkPortAddress::LooksLikeUrl(portText))
            throw Cli::Error(Cli::BadArguments, e.what());
        throw Cli::Error(Cli::NoPort, e.what());
    } catch (const std::exception& e) {
        throw Cli::Error(Cli::NoPort, e.what());
    }
    std::string digits = portText;
    if (digits.size() > 3 && (digits.compare(0, 3, "COM") == 0 || digits.compare(0, 3, "com") == 0))
        digits = digits.substr(3);
    const bool allDigits = !digits.empty() && digits.size() <= 6 &&
                           digits.find_first_not_of("0123456789") == std::string::npos;
    const int number = allDigits ? std::atoi(digits.c_str()) : 0;
    if (number <= 0)
        throw Cli::Error(Cli::BadArguments,
                         "bad value for --port: \"" + portText +
                             "\" (COMn, n, a device path, tcp://HOST:PORT or rfc2217://HOST:PORT)");
    return number;
}

CliCardLink::CliCardLink(const std::string& portText, int nodeAddress, unsigned timeoutMs)
    : m_portNumber(ResolvePort(portText))
{
    SerialPortSettings settings; // the window's: 115200 baud 8N1
    settings.port = m_portNumber;
    try {
        m_port = std::make_unique<SerialCommsThread>(settings, nullptr);
    } catch (const std::exception& e) {
        // A port this user may not open says how to get the right, as the port list does.
        const std::string path = SerialPlatform::DevicePathOfPort(m_portNumber);
        throw Cli::Error(Cli::NoPort,
                         "COM" + std::to_string(m_portNumber) + ": " + e.what() +
                             (path.empty() ? std::string() : SerialPlatform::PermissionHint(path)));
    }
    m_datalink = std::make_unique<ModbusMasterDatalink>(m_port.get());
    m_datalink->SetNodeAddress(static_cast<unsigned char>(nodeAddress));
    m_datalink->SetReplyTimeoutMs(timeoutMs);
}

CliCardLink::~CliCardLink()
{
    // The master goes first: it must not outlive the port it transmits on.
    m_datalink.reset();
    m_port.reset();
}
