#pragma once

#include <cstdint>
#include <string>

#include "comms/TelnetDecoder.h"

// The client side of a Telnet session with the COM-PORT-OPTION (a serial device server in
// "real COM" mode): what to send to open the session and set the line, the escaping of data, and
// the answers to what the server sends. Pure: bytes in, bytes out; the socket is the caller's.
//
// The session offers COM-PORT-OPTION and binary transmission both ways. Of the server's offers
// it takes binary transmission, suppress-go-ahead and COM-PORT-OPTION and refuses every other
// option (a server
// that echoed our frames, or went into line mode, would corrupt them). Modem-line requests are
// sent but their answers are not required: many servers (or the device behind them) have no
// modem lines.
class Rfc2217Session
{
public:
    static constexpr unsigned char optionBinary = 0, optionEcho = 1, optionSuppressGoAhead = 3,
                                   optionComPort = 44;
    // COM-PORT-OPTION commands, client to server; the server answers with the same plus 100.
    enum Command : unsigned char {
        Signature = 0,
        SetBaudRate = 1,
        SetDataSize = 2,
        SetParity = 3,
        SetStopSize = 4,
        SetControl = 5,
        NotifyLineState = 6,
        NotifyModemState = 7,
        FlowControlSuspend = 8,
        FlowControlResume = 9,
        SetLineStateMask = 10,
        SetModemStateMask = 11,
        PurgeData = 12,
    };
    static constexpr unsigned char serverOffset = 100;

    // The opening offers: WILL COM-PORT-OPTION, WILL BINARY, DO BINARY.
    ByteVec Start();
    // The line settings: baud rate, 8 data bits, parity (0 none, 1 odd, 2 even), stop bits (1 or
    // 2), no flow control either way.
    ByteVec SetLine(std::uint32_t baudRate, int parity, int stopBits);
    // DTR on, then RTS on.
    ByteVec RaiseDtrThenRts();
    // Asks the server to empty both of its buffers.
    ByteVec PurgeBoth();

    // Takes bytes from the server: data is appended to data, the answers the session owes the
    // server to replies (to be sent before any later data).
    void Receive(const unsigned char* bytes, std::size_t length, ByteVec& data, ByteVec& replies);

    // Where the negotiation of COM-PORT-OPTION stands.
    enum class ComPort { Offered, Accepted, Refused };
    ComPort ComPortState() const { return m_comPort; }
    // What the server reported of the line; 0 until it has.
    std::uint32_t ServerBaudRate() const { return m_serverBaud; }
    int ServerDataSize() const { return m_serverDataSize; }
    int ServerParity() const { return m_serverParity; }
    int ServerStopSize() const { return m_serverStopSize; }
    // Forgets what the server reported, before the line is set again.
    void ClearServerLine()
    {
        m_serverBaud = 0, m_serverDataSize = m_serverParity = m_serverStopSize = 0;
    }

    // The signature sent when the server asks for ours.
    static const char* signature;

private:
    // Per option and direction, the negotiation state of RFC 854/855 with the loop rule: a
    // request is sent only to change a state, an answer only when it changes one.
    struct OptionState
    {
        bool enabled = false;
        bool requested = false; // we sent the request and wait for the answer
    };

    void OnEvent(const TelnetEvent& e, ByteVec& replies);
    void OnSubnegotiation(const ByteVec& parameters, ByteVec& replies);
    static bool WeAccept(unsigned char option); // their DO: we will
    static bool TheyMay(unsigned char option);  // their WILL: they may
    static void AppendNegotiation(unsigned char verb, unsigned char option, ByteVec& out);
    static void AppendComPort(unsigned char command, const ByteVec& value, ByteVec& out);

    TelnetDecoder m_decoder;
    OptionState m_us[256];   // options we perform
    OptionState m_them[256]; // options the server performs
    ComPort m_comPort = ComPort::Offered;
    std::uint32_t m_serverBaud = 0;
    int m_serverDataSize = 0;
    int m_serverParity = 0;
    int m_serverStopSize = 0;
};
