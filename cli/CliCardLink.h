#pragma once

#include <memory>
#include <string>

class ModbusMasterDatalink;
class SerialCommsThread;

// The serial port and the Modbus master of one run of tolvaren-cli. The port is chosen as the
// window chooses it: a fixed COMn, or automatically the only available port, else the only USB
// one. A device path is accepted too: a path the enumeration lists gets its own number, any
// other (a pseudo-terminal, a socat end) becomes one more extra port, COM300 and up.
//
// Threads: construct and destroy on the main thread; the datalink is used as ModbusMasterDatalink
// says.
class CliCardLink
{
public:
    // Throws Cli::Error (NoPort) with the window's texts when the port cannot be chosen or opened.
    CliCardLink(const std::string& portText, int nodeAddress, unsigned timeoutMs);
    ~CliCardLink();
    CliCardLink(const CliCardLink&) = delete;
    CliCardLink& operator=(const CliCardLink&) = delete;

    ModbusMasterDatalink& Datalink() { return *m_datalink; }
    int PortNumber() const { return m_portNumber; }

    // The COM number that portText names ("COM7", "com7", "7" or a device path), or the automatic
    // choice when it is empty. Throws Cli::Error (NoPort, or BadArguments for a text that names
    // no port at all).
    static int ResolvePort(const std::string& portText);

private:
    int m_portNumber = 0;
    std::unique_ptr<SerialCommsThread> m_port;
    std::unique_ptr<ModbusMasterDatalink> m_datalink;
};
