#include "comms/Rfc2217Session.h"

#include <gtest/gtest.h>

namespace {

const unsigned char IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240,
                    NOP = 241, COM = 44, BINARY = 0, ECHO = 1, SGA = 3, TTYPE = 24;

ByteVec Sig()
{
    ByteVec out = {IAC, SB, COM, 0};
    for (const char* c = Rfc2217Session::signature; *c; ++c)
        out.push_back(static_cast<unsigned char>(*c));
    out.insert(out.end(), {IAC, SE});
    return out;
}

// What a server sends, in the chunks it arrives in, after the session has made its opening
// offers, and what the session makes of it.
TEST(Rfc2217SessionTest, ServerBytesBecomeDataAnswersAndLineState)
{
    using ComPort = Rfc2217Session::ComPort;
    struct Case
    {
        const char* name;
        std::vector<ByteVec> chunks;
        ByteVec data;
        ByteVec replies;
        ComPort comPort;
        std::uint32_t baud;
    };
    // One case per entry reads better than one field per line.
    // clang-format off
    const Case cases[] = {
        {"plain data", {{1, 3, 0, 13, 0}}, {1, 3, 0, 13, 0}, {}, ComPort::Offered, 0},
        {"doubled IAC is one data byte", {{IAC, IAC, 7}}, {0xFF, 7}, {}, ComPort::Offered, 0},
        {"doubled IAC split between chunks", {{5, IAC}, {IAC, 6}}, {5, 0xFF, 6}, {},
         ComPort::Offered, 0},
        {"our offers confirmed: no answer",
         {{IAC, DO, COM, IAC, DO, BINARY, IAC, WILL, BINARY}}, {}, {}, ComPort::Accepted, 0},
        {"COM-PORT-OPTION refused", {{IAC, DONT, COM}}, {}, {}, ComPort::Refused, 0},
        {"their echo refused", {{IAC, WILL, ECHO}}, {}, {IAC, DONT, ECHO}, ComPort::Offered, 0},
        {"an option we do not perform", {{IAC, DO, TTYPE}}, {}, {IAC, WONT, TTYPE},
         ComPort::Offered, 0},
        {"their offer taken once, its repeat not answered",
         {{IAC, WILL, SGA}, {IAC, WILL, SGA}}, {}, {IAC, DO, SGA}, ComPort::Offered, 0},
        {"binary withdrawn after it was agreed",
         {{IAC, WILL, BINARY, IAC, WONT, BINARY}}, {}, {IAC, DONT, BINARY}, ComPort::Offered, 0},
        {"baud rate confirmed, split anywhere",
         {{IAC, DO, COM, IAC, SB, COM}, {101, 0, 0, 0x25}, {0x80, IAC}, {SE, 9}}, {9},
         {}, ComPort::Accepted, 9600},
        {"doubled IAC inside a subnegotiation",
         {{IAC, SB, COM, 101, 0, 0, IAC, IAC, IAC, IAC, IAC, SE}}, {}, {}, ComPort::Offered,
         0xFFFF},
        {"signature asked for", {{IAC, SB, COM, 0, IAC, SE}}, {}, Sig(), ComPort::Offered, 0},
        {"server's own signature needs no answer",
         {{IAC, SB, COM, 100, 'x', IAC, SE}}, {}, {}, ComPort::Offered, 0},
        {"commands and notices between data bytes",
         {{1, IAC, NOP, 2, IAC, SB, COM, 107, 0x30, IAC, SE, 3, IAC, SB, COM, 106, 0, IAC, SE}},
         {1, 2, 3}, {}, ComPort::Offered, 0},
        {"a subnegotiation cut short by a command",
         {{IAC, SB, COM, 101, 0, IAC, WILL, ECHO, 4}}, {4}, {IAC, DONT, ECHO}, ComPort::Offered,
         0},
        {"a baud answer of the wrong length is ignored",
         {{IAC, SB, COM, 101, 0, 0x25, 0x80, IAC, SE}}, {}, {}, ComPort::Offered, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rfc2217Session session;
        session.Start();
        ByteVec data, replies;
        for (const ByteVec& chunk : c.chunks)
            session.Receive(chunk.data(), chunk.size(), data, replies);
        EXPECT_EQ(data, c.data);
        EXPECT_EQ(replies, c.replies);
        EXPECT_EQ(session.ComPortState(), c.comPort);
        EXPECT_EQ(session.ServerBaudRate(), c.baud);
    }
}

TEST(Rfc2217SessionTest, ClientBytesOnTheWire)
{
    Rfc2217Session session;
    EXPECT_EQ(session.Start(), ByteVec({IAC, WILL, COM, IAC, WILL, BINARY, IAC, DO, BINARY}));
    // 115200 8N1, no flow control either way.
    EXPECT_EQ(session.SetLine(115200, 0, 1),
              ByteVec({IAC, SB,  COM, 1,   0,   1, 0xC2, 0,   IAC, SE,  IAC, SB,  COM, 2,   8,
                       IAC, SE,  IAC, SB,  COM, 3, 1,    IAC, SE,  IAC, SB,  COM, 4,   1,   IAC,
                       SE,  IAC, SB,  COM, 5,   1, IAC,  SE,  IAC, SB,  COM, 5,   14,  IAC, SE}));
    // A value holding 0xFF is escaped inside the subnegotiation too; even parity, 2 stop bits.
    const ByteVec line = session.SetLine(0x00FF00FF, 2, 2);
    EXPECT_EQ(ByteVec(line.begin(), line.begin() + 12),
              ByteVec({IAC, SB, COM, 1, 0, IAC, IAC, 0, IAC, IAC, IAC, SE}));
    EXPECT_EQ(ByteVec(line.begin() + 19, line.begin() + 32),
              ByteVec({IAC, SB, COM, 3, 3, IAC, SE, IAC, SB, COM, 4, 2, IAC}));
    ByteVec escaped;
    const unsigned char frame[] = {IAC, 1, IAC, IAC};
    TelnetDecoder::AppendEscaped(frame, sizeof frame, escaped);
    EXPECT_EQ(escaped, ByteVec({IAC, IAC, 1, IAC, IAC, IAC, IAC}));
}

} // namespace
