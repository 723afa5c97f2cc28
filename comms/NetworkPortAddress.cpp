#include "comms/NetworkPortAddress.h"

#include <cctype>

#include <boost/throw_exception.hpp>

#include "comms/ExceptionWithString.h"

namespace {

const char rawScheme[] = "tcp://";
const char rfc2217Scheme[] = "rfc2217://";

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

[[noreturn]] void Refuse(const std::string& url, const std::string& why)
{
    boost::throw_exception(ExceptionWithString("Invalid network port \"" + url + "\": " + why));
}

} // namespace

std::string NetworkPortAddress::Url() const
{
    return (kind == Rfc2217 ? rfc2217Scheme : rawScheme) + HostAndPort();
}

std::string NetworkPortAddress::HostAndPort() const
{
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool NetworkPortAddress::LooksLikeUrl(const std::string& text)
{
    return StartsWith(text, rawScheme) || StartsWith(text, rfc2217Scheme);
}

NetworkPortAddress NetworkPortAddress::Parse(const std::string& url)
{
    NetworkPortAddress address;
    std::string rest;
    if (StartsWith(url, rawScheme)) {
        rest = url.substr(std::char_traits<char>::length(rawScheme));
    } else if (StartsWith(url, rfc2217Scheme)) {
        address.kind = Rfc2217;
        rest = url.substr(std::char_traits<char>::length(rfc2217Scheme));
    } else {
        Refuse(url, "it starts neither with tcp:// nor with rfc2217://");
    }

    std::size_t portStart;
    if (!rest.empty() && rest[0] == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            Refuse(url, "an IPv6 host is written [ADDRESS]:PORT");
        address.host = rest.substr(1, close - 1);
        portStart = close + 2;
    } else {
        const std::size_t colon = rest.rfind(':');
        if (colon == std::string::npos)
            Refuse(url, "the TCP port is missing (HOST:PORT)");
        address.host = rest.substr(0, colon);
        if (address.host.find(':') != std::string::npos)
            Refuse(url, "an IPv6 host is written [ADDRESS]:PORT");
        portStart = colon + 1;
    }
    if (address.host.empty())
        Refuse(url, "the host is missing");
    for (char c : address.host) {
        if (std::isspace(static_cast<unsigned char>(c)) || c == '/' || c == '@')
            Refuse(url, "the host holds a character no host name has");
    }
    const std::string digits = rest.substr(portStart);
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        Refuse(url, "the TCP port is not a number");
    address.port = std::stoi(digits);
    if (address.port < 1 || address.port > 65535)
        Refuse(url, "the TCP port is not between 1 and 65535");
    return address;
}
