#pragma once

#include <cstddef>
#include <vector>

#include "comms/ByteVec.h"

// One Telnet command found in a received byte stream.
struct TelnetEvent
{
    enum Kind { Will, Wont, Do, Dont, Subnegotiation, Command };
    Kind kind = Command;
    // The option of a negotiation or subnegotiation, or the command byte (NOP, BRK, ...).
    unsigned char code = 0;
    // The parameters of a subnegotiation, with doubled IACs undone.
    ByteVec parameters;

    bool operator==(const TelnetEvent& other) const
    {
        return kind == other.kind && code == other.code && parameters == other.parameters;
    }
};

// Splits a Telnet byte stream into the data it carries and its commands: IAC IAC is one data
// byte 0xFF, IAC WILL/WONT/DO/DONT option is a negotiation, IAC SB option ... IAC SE a
// subnegotiation, any other IAC x a command. A command split across two calls is completed by the
// second. Pure: no I/O, any byte sequence is accepted.
class TelnetDecoder
{
public:
    static constexpr unsigned char IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251,
                                   SB = 250, SE = 240;
    // Parameters of a longer subnegotiation are cut here; nothing this program reads is longer.
    static constexpr std::size_t maxParameters = 256;

    // Appends the data bytes of received to data and its commands to events, in stream order.
    void Decode(const unsigned char* received, std::size_t length, ByteVec& data,
                std::vector<TelnetEvent>& events);

    // Doubles every 0xFF, so that data cannot be taken for a command.
    static void AppendEscaped(const unsigned char* bytes, std::size_t length, ByteVec& out);

private:
    enum class State { Data, Iac, Negotiation, SubOption, SubData, SubIac };

    State m_state = State::Data;
    TelnetEvent::Kind m_negotiation = TelnetEvent::Will;
    TelnetEvent m_sub;
};
