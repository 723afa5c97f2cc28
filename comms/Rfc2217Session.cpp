#include "comms/Rfc2217Session.h"

#include <cstring>

const char* Rfc2217Session::signature = "Tolvaren Diagnostics";

namespace {
const unsigned char IAC = TelnetDecoder::IAC;
} // namespace

void Rfc2217Session::AppendNegotiation(unsigned char verb, unsigned char option, ByteVec& out)
{
    out.insert(out.end(), {IAC, verb, option});
}

void Rfc2217Session::AppendComPort(unsigned char command, const ByteVec& value, ByteVec& out)
{
    out.insert(out.end(), {IAC, TelnetDecoder::SB, optionComPort, command});
    TelnetDecoder::AppendEscaped(value.data(), value.size(), out);
    out.insert(out.end(), {IAC, TelnetDecoder::SE});
}

ByteVec Rfc2217Session::Start()
{
    ByteVec out;
    for (unsigned char option : {optionComPort, optionBinary}) {
        m_us[option].requested = true;
        AppendNegotiation(TelnetDecoder::WILL, option, out);
    }
    m_them[optionBinary].requested = true;
    AppendNegotiation(TelnetDecoder::DO, optionBinary, out);
    return out;
}

ByteVec Rfc2217Session::SetLine(std::uint32_t baudRate, int parity, int stopBits)
{
    ByteVec out;
    AppendComPort(SetBaudRate,
                  {static_cast<unsigned char>(baudRate >> 24),
                   static_cast<unsigned char>(baudRate >> 16),
                   static_cast<unsigned char>(baudRate >> 8), static_cast<unsigned char>(baudRate)},
                  out);
    AppendComPort(SetDataSize, {8}, out);
    // On the wire: 1 none, 2 odd, 3 even; stop size 1 one, 2 two.
    AppendComPort(SetParity, {static_cast<unsigned char>(parity + 1)}, out);
    AppendComPort(SetStopSize, {static_cast<unsigned char>(stopBits)}, out);
    AppendComPort(SetControl, {1}, out);  // no outbound flow control
    AppendComPort(SetControl, {14}, out); // no inbound flow control
    return out;
}

ByteVec Rfc2217Session::RaiseDtrThenRts()
{
    ByteVec out;
    AppendComPort(SetControl, {8}, out);  // DTR on
    AppendComPort(SetControl, {11}, out); // RTS on
    return out;
}

ByteVec Rfc2217Session::PurgeBoth()
{
    ByteVec out;
    AppendComPort(PurgeData, {3}, out);
    return out;
}

void Rfc2217Session::Receive(const unsigned char* bytes, std::size_t length, ByteVec& data,
                             ByteVec& replies)
{
    std::vector<TelnetEvent> events;
    m_decoder.Decode(bytes, length, data, events);
    for (const TelnetEvent& e : events)
        OnEvent(e, replies);
}

bool Rfc2217Session::WeAccept(unsigned char option)
{
    return option == optionComPort || option == optionBinary || option == optionSuppressGoAhead;
}

bool Rfc2217Session::TheyMay(unsigned char option)
{
    // Some servers announce the COM-PORT-OPTION from their side as well; agreeing costs nothing.
    return option == optionBinary || option == optionSuppressGoAhead || option == optionComPort;
}

void Rfc2217Session::OnEvent(const TelnetEvent& e, ByteVec& replies)
{
    const unsigned char option = e.code;
    switch (e.kind) {
    case TelnetEvent::Do: {
        OptionState& s = m_us[option];
        const bool answer = !s.requested && !s.enabled;
        if (WeAccept(option)) {
            if (answer)
                AppendNegotiation(TelnetDecoder::WILL, option, replies);
            s.enabled = true;
        } else {
            AppendNegotiation(TelnetDecoder::WONT, option, replies); // never offered: refused
        }
        s.requested = false;
        if (option == optionComPort)
            m_comPort = ComPort::Accepted;
        break;
    }
    case TelnetEvent::Dont: {
        OptionState& s = m_us[option];
        if (s.enabled && !s.requested)
            AppendNegotiation(TelnetDecoder::WONT, option, replies);
        s.enabled = false;
        s.requested = false;
        if (option == optionComPort)
            m_comPort = ComPort::Refused;
        break;
    }
    case TelnetEvent::Will: {
        OptionState& s = m_them[option];
        const bool answer = !s.requested && !s.enabled;
        if (TheyMay(option)) {
            if (answer)
                AppendNegotiation(TelnetDecoder::DO, option, replies);
            s.enabled = true;
        } else {
            AppendNegotiation(TelnetDecoder::DONT, option, replies);
        }
        s.requested = false;
        break;
    }
    case TelnetEvent::Wont: {
        OptionState& s = m_them[option];
        if (s.enabled && !s.requested)
            AppendNegotiation(TelnetDecoder::DONT, option, replies);
        s.enabled = false;
        s.requested = false;
        break;
    }
    case TelnetEvent::Subnegotiation:
        if (option == optionComPort)
            OnSubnegotiation(e.parameters, replies);
        break;
    case TelnetEvent::Command:
        break; // NOP, BRK, GA...: nothing for a byte pipe to do
    }
}

void Rfc2217Session::OnSubnegotiation(const ByteVec& p, ByteVec& replies)
{
    if (p.empty())
        return;
    const unsigned char command = p[0];
    switch (command) {
    case Signature:
        // Sent the client's way, the signature command is the server's request for ours.
    case Signature + serverOffset:
        if (p.size() == 1) {
            const ByteVec text(signature, signature + std::strlen(signature));
            AppendComPort(Signature, text, replies);
        }
        break;
    case SetBaudRate + serverOffset:
        if (p.size() == 5)
            m_serverBaud = (std::uint32_t(p[1]) << 24) | (std::uint32_t(p[2]) << 16) |
                           (std::uint32_t(p[3]) << 8) | std::uint32_t(p[4]);
        break;
    case SetDataSize + serverOffset:
        if (p.size() == 2)
            m_serverDataSize = p[1];
        break;
    case SetParity + serverOffset:
        if (p.size() == 2)
            m_serverParity = p[1];
        break;
    case SetStopSize + serverOffset:
        if (p.size() == 2)
            m_serverStopSize = p[1];
        break;
    default:
        // Line and modem state notices, control and purge answers, flow control requests (a
        // Modbus master sends one short frame at a time): nothing depends on them.
        break;
    }
}
