#include "tests/support/NetworkSerialServer.h"

#include <csignal>
#include <fstream>
#include <stdexcept>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/support/WaitUntil.h"

namespace {

const char ser2netProgram[] = "/usr/sbin/ser2net";
const char pythonProgram[] = "/usr/bin/python3";

sockaddr_in Loopback(int port)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

} // namespace

NetworkSerialServer::NetworkSerialServer(Kind kind, const std::string& devicePath,
                                         const std::string& folder)
    : m_kind(kind), m_devicePath(devicePath), m_folder(folder)
{
    // A port picked free may be taken by a parallel test before the server binds it: pick again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (kind != PyserialRfc2217)
            m_tcpPort = FreeTcpPort();
        if (StartOnce())
            return;
    }
    throw std::runtime_error(std::string(Name(kind)) + " did not start: " +
                             (m_process ? m_process->Output() : std::string()));
}

NetworkSerialServer::~NetworkSerialServer()
{
    Stop();
}

std::string NetworkSerialServer::Url() const
{
    return std::string(m_kind == Ser2netRaw ? "tcp" : "rfc2217") +
           "://127.0.0.1:" + std::to_string(m_tcpPort);
}

const char* NetworkSerialServer::Name(Kind kind)
{
    switch (kind) {
    case Ser2netRaw:
        return "ser2net raw TCP";
    case Ser2netRfc2217:
        return "ser2net RFC 2217";
    case PyserialRfc2217:
        return "pyserial RFC 2217";
    }
    return "";
}

void NetworkSerialServer::Stop()
{
    if (!m_process)
        return;
    m_process->Signal(SIGTERM);
    m_process->WaitForExit();
    m_process.reset();
}

void NetworkSerialServer::Start()
{
    if (!StartOnce())
        throw std::runtime_error(std::string(Name(m_kind)) + " did not start again on its port");
}

bool NetworkSerialServer::StartOnce()
{
    Stop();
    if (m_kind == PyserialRfc2217) {
        const std::string script = TOLVAREN_RFC2217_SCRIPT;
        std::vector<std::string> arguments = {script, m_devicePath};
        if (m_tcpPort != 0)
            arguments.push_back(std::to_string(m_tcpPort));
        m_process.reset(new ChildProcess(pythonProgram, arguments));
        const auto line = m_process->LineStartingWith("LISTENING ");
        if (!line)
            return false;
        m_tcpPort = std::stoi(line->substr(10));
        return true;
    }
    const std::string config = m_folder + "/ser2net.yaml";
    {
        std::ofstream out(config, std::ios::trunc);
        out << "%YAML 1.1\n---\n"
            << "connection: &card\n"
            << "    accepter: " << (m_kind == Ser2netRfc2217 ? "telnet(rfc2217),tcp," : "tcp,")
            << "127.0.0.1," << m_tcpPort << "\n"
            << "    connector: serialdev," << m_devicePath << ",115200n81,local\n"
            << "    options:\n"
            << "      kickolduser: true\n"
            // As the README configures it: replies pass at once, not held to be grouped.
            << "      chardelay: false\n";
        if (!out)
            throw std::runtime_error("cannot write " + config);
    }
    // -d: in the foreground, logging to its output; -u: no UUCP lock files outside the folder.
    m_process.reset(new ChildProcess(ser2netProgram, {"-d", "-u", "-c", config}));
    return WaitUntil([this] { return Accepts(m_tcpPort); }, std::chrono::seconds(5));
}

int NetworkSerialServer::FreeTcpPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error("no free TCP port");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

bool NetworkSerialServer::Accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(port);
    const bool accepted =
        fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return accepted;
}
