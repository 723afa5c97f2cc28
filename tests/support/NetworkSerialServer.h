#pragma once

#include <memory>
#include <string>

#include "tests/support/ChildProcess.h"

// A real serial device server on 127.0.0.1 in front of a serial device path: ser2net (raw TCP or
// Telnet with RFC 2217, its configuration written into the test's folder) or pyserial's RFC 2217
// port manager run by /usr/bin/python3. Started by the constructor on a free TCP port, ready to
// accept; stopped by Stop or the destructor; Start serves again on the same TCP port.
//
// Threads: the test's own.
class NetworkSerialServer
{
public:
    enum Kind { Ser2netRaw, Ser2netRfc2217, PyserialRfc2217 };

    // folder: the test's temporary folder. Throws std::runtime_error when the server does not
    // come up.
    NetworkSerialServer(Kind kind, const std::string& devicePath, const std::string& folder);
    ~NetworkSerialServer();

    int TcpPort() const { return m_tcpPort; }
    // "tcp://127.0.0.1:PORT" or "rfc2217://127.0.0.1:PORT".
    std::string Url() const;

    // Ends the server (SIGTERM, then waits for it); its clients see the connection close.
    void Stop();
    void Start();

    static const char* Name(Kind kind);
    // A TCP port on 127.0.0.1 that was free a moment ago.
    static int FreeTcpPort();
    // True when something accepts connections on 127.0.0.1:port now.
    static bool Accepts(int port);

private:
    bool StartOnce();

    Kind m_kind;
    std::string m_devicePath;
    std::string m_folder;
    int m_tcpPort = 0;
    std::unique_ptr<ChildProcess> m_process;
};
