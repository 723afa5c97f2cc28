#pragma once

#include <string>

// Where a network serial port is: a serial device server's TCP port, spoken to as raw bytes
// ("tcp://HOST:PORT") or through Telnet with the COM-PORT-OPTION ("rfc2217://HOST:PORT"). An IPv6
// host is written in brackets: "tcp://[fe80::1]:4001".
struct NetworkPortAddress
{
    enum Kind { RawTcp, Rfc2217 };
    Kind kind = RawTcp;
    std::string host;
    int port = 0;

    // The URL form; also the port's description in the port list.
    std::string Url() const;
    // "HOST:PORT", as connection errors name the server.
    std::string HostAndPort() const;

    // True when text starts like a network port URL ("tcp://" or "rfc2217://"), valid or not.
    static bool LooksLikeUrl(const std::string& text);
    // Parses a URL; throws ExceptionWithString saying what is wrong with it.
    static NetworkPortAddress Parse(const std::string& url);
};
