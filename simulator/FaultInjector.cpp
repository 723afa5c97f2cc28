#include "simulator/FaultInjector.h"

#include <sstream>
#include <stdexcept>

#include "modbus/ModbusCrc.h"

namespace {

struct Named
{
    FaultInjector::Fault fault;
    const char* name;
};

const Named names[] = {
    {FaultInjector::Fault::None, "none"},
    {FaultInjector::Fault::NoReply, "no-reply"},
    {FaultInjector::Fault::LateReply, "late-reply"},
    {FaultInjector::Fault::BadCrc, "bad-crc"},
    {FaultInjector::Fault::Garbage, "garbage"},
    {FaultInjector::Fault::Chunks, "chunks"},
    {FaultInjector::Fault::Exception, "exception"},
    {FaultInjector::Fault::Hangup, "hangup"},
};

// Half a time-out past the master's: late by any measure, yet soon enough to meet the master's
// next request on the line.
const unsigned lateByDefaultMs = FaultInjector::masterTimeoutMs + 500;
const unsigned chunkGapDefaultMs = 20;
const unsigned hangupDefaultMs = 2000;
// Small pieces with gaps, yet a whole frame (256 bytes, 32 pieces) well inside the time-out.
const std::size_t chunkBytes = 8;
// The master takes a reply after up to 8 stray bytes; a few stay well inside that.
const unsigned maxGarbageBytes = 6;

unsigned ParseNumber(const std::string& key, const std::string& text, unsigned low, unsigned high)
{
    std::istringstream in(text);
    unsigned long value = 0;
    if (text.empty() || text[0] == '-' || !(in >> value) || !in.eof() || value < low ||
        value > high)
        throw std::invalid_argument("bad value for " + key + ": " + text);
    return unsigned(value);
}

} // namespace

FaultInjector::Setting FaultInjector::Parse(const std::string& text)
{
    std::string normalized = text;
    for (char& c : normalized)
        if (c == ',' || c == '\t')
            c = ' ';
    std::istringstream words(normalized);
    std::string name;
    if (!(words >> name))
        throw std::invalid_argument("no fault named; one of: none no-reply late-reply bad-crc "
                                    "garbage chunks exception hangup");
    Setting setting;
    bool known = false;
    for (const Named& n : names) {
        if (name == n.name) {
            setting.fault = n.fault;
            known = true;
        }
    }
    if (!known)
        throw std::invalid_argument("unknown fault " + name);
    std::string part;
    while (words >> part) {
        const std::size_t eq = part.find('=');
        const std::string key = part.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : part.substr(eq + 1);
        if (key == "every")
            setting.every = ParseNumber(key, value, 1, 1000000);
        else if (key == "ms")
            setting.ms = ParseNumber(key, value, 1, 600000);
        else if (key == "code")
            setting.code = ParseNumber(key, value, 1, 255);
        else
            throw std::invalid_argument("unknown fault setting " + part);
    }
    return setting;
}

std::string FaultInjector::NameOf(Fault fault)
{
    for (const Named& n : names)
        if (n.fault == fault)
            return n.name;
    return "?";
}

std::vector<std::string> FaultInjector::Names()
{
    std::vector<std::string> all;
    for (const Named& n : names)
        all.push_back(n.name);
    return all;
}

unsigned FaultInjector::EffectiveMs(const Setting& setting)
{
    if (setting.ms != 0)
        return setting.ms;
    switch (setting.fault) {
    case Fault::LateReply:
        return lateByDefaultMs;
    case Fault::Chunks:
        return chunkGapDefaultMs;
    case Fault::Hangup:
        return hangupDefaultMs;
    default:
        return 0;
    }
}

std::string FaultInjector::Describe(const Setting& setting)
{
    std::ostringstream text;
    text << NameOf(setting.fault);
    if (setting.fault == Fault::None)
        return text.str();
    if (setting.every == 1)
        text << " on every request";
    else
        text << " on one request in " << setting.every;
    switch (setting.fault) {
    case Fault::LateReply:
        text << ", " << EffectiveMs(setting) << " ms late";
        break;
    case Fault::Chunks:
        text << ", " << EffectiveMs(setting) << " ms between pieces";
        break;
    case Fault::Hangup:
        text << ", away for " << EffectiveMs(setting) << " ms";
        break;
    case Fault::Exception:
        text << ", code " << setting.code;
        break;
    default:
        break;
    }
    return text.str();
}

FaultInjector::FaultInjector(std::uint32_t seed) : m_random(seed) {}

void FaultInjector::Set(const Setting& setting)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (setting.fault != m_setting.fault)
        ++m_counts.switches;
    m_setting = setting;
    m_sinceHit = 0;
}

FaultInjector::Setting FaultInjector::Current() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_setting;
}

bool FaultInjector::IsOn() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_setting.fault != Fault::None;
}

FaultInjector::Counts FaultInjector::GetCounts() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_counts;
}

bool FaultInjector::Hits()
{
    if (m_setting.fault == Fault::None)
        return false;
    if (++m_sinceHit < m_setting.every)
        return false;
    m_sinceHit = 0;
    ++m_counts.faulted;
    return true;
}

FaultInjector::RequestAction FaultInjector::OnRequest(const ByteVec& request)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_counts.requests;
    RequestAction action;
    const Fault fault = m_setting.fault;
    if ((fault != Fault::NoReply && fault != Fault::Exception && fault != Fault::Hangup) ||
        request.size() < 2 || !Hits())
        return action;
    switch (fault) {
    case Fault::NoReply:
        action.kind = RequestAction::Swallow;
        break;
    case Fault::Exception:
        action.kind = RequestAction::Answer;
        action.answer = {request[0], static_cast<unsigned char>(request[1] | 0x80),
                         static_cast<unsigned char>(m_setting.code)};
        AppendModbusCrc(action.answer);
        break;
    default:
        action.kind = RequestAction::HangUp;
        action.hangUpMs = EffectiveMs(m_setting);
        break;
    }
    return action;
}

std::vector<FaultInjector::Piece> FaultInjector::OnReply(const ByteVec& reply)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_counts.replies;
    std::vector<Piece> pieces(1);
    pieces[0].bytes = reply;
    const Fault fault = m_setting.fault;
    if ((fault != Fault::LateReply && fault != Fault::BadCrc && fault != Fault::Garbage &&
         fault != Fault::Chunks) ||
        reply.empty() || !Hits())
        return pieces;
    switch (fault) {
    case Fault::LateReply:
        pieces[0].delay = std::chrono::milliseconds(EffectiveMs(m_setting));
        break;
    case Fault::BadCrc:
        pieces[0].bytes.back() ^= 0x5A;
        break;
    case Fault::Garbage: {
        const unsigned count =
            std::uniform_int_distribution<unsigned>(1, maxGarbageBytes)(m_random);
        ByteVec bytes;
        for (unsigned i = 0; i < count; ++i)
            bytes.push_back(static_cast<unsigned char>(
                std::uniform_int_distribution<unsigned>(0, 255)(m_random)));
        pieces[0].bytes.insert(pieces[0].bytes.begin(), bytes.begin(), bytes.end());
        break;
    }
    default: {
        pieces.clear();
        const std::chrono::milliseconds gap(EffectiveMs(m_setting));
        for (std::size_t at = 0; at < reply.size(); at += chunkBytes) {
            Piece piece;
            piece.delay = at == 0 ? std::chrono::milliseconds(0) : gap;
            piece.bytes.assign(reply.begin() + long(at),
                               reply.begin() + long(std::min(reply.size(), at + chunkBytes)));
            pieces.push_back(piece);
        }
        break;
    }
    }
    return pieces;
}
