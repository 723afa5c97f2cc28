#include "comms/TelnetDecoder.h"

void TelnetDecoder::Decode(const unsigned char* received, std::size_t length, ByteVec& data,
                           std::vector<TelnetEvent>& events)
{
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char b = received[i];
        switch (m_state) {
        case State::Data:
            if (b == IAC)
                m_state = State::Iac;
            else
                data.push_back(b);
            break;
        case State::Iac:
            m_state = State::Data;
            if (b == IAC) {
                data.push_back(b);
            } else if (b >= WILL && b <= DONT) {
                m_negotiation = b == WILL   ? TelnetEvent::Will
                                : b == WONT ? TelnetEvent::Wont
                                : b == DO   ? TelnetEvent::Do
                                            : TelnetEvent::Dont;
                m_state = State::Negotiation;
            } else if (b == SB) {
                m_state = State::SubOption;
            } else {
                // NOP, BRK, GA, a stray SE and the like: reported, carry no data.
                TelnetEvent e;
                e.code = b;
                events.push_back(e);
            }
            break;
        case State::Negotiation: {
            TelnetEvent e;
            e.kind = m_negotiation;
            e.code = b;
            events.push_back(e);
            m_state = State::Data;
            break;
        }
        case State::SubOption:
            m_sub = TelnetEvent();
            m_sub.kind = TelnetEvent::Subnegotiation;
            m_sub.code = b;
            m_state = State::SubData;
            break;
        case State::SubData:
            if (b == IAC)
                m_state = State::SubIac;
            else if (m_sub.parameters.size() < maxParameters)
                m_sub.parameters.push_back(b);
            break;
        case State::SubIac:
            if (b == SE) {
                events.push_back(m_sub);
                m_sub = TelnetEvent();
                m_state = State::Data;
            } else if (b == IAC) {
                if (m_sub.parameters.size() < maxParameters)
                    m_sub.parameters.push_back(b);
                m_state = State::SubData;
            } else {
                // IAC followed by anything else inside a subnegotiation: a peer that lost the
                // end of it. The subnegotiation is dropped and the command read as usual.
                m_sub = TelnetEvent();
                m_state = State::Iac;
                --i;
            }
            break;
        }
    }
}

void TelnetDecoder::AppendEscaped(const unsigned char* bytes, std::size_t length, ByteVec& out)
{
    out.reserve(out.size() + length + 4);
    for (std::size_t i = 0; i < length; ++i) {
        out.push_back(bytes[i]);
        if (bytes[i] == IAC)
            out.push_back(IAC);
    }
}
