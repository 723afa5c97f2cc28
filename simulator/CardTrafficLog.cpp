#include "simulator/CardTrafficLog.h"

#include <algorithm>

#include "simulator/ModbusSlaveConstants.h"
#include "simulator/VendorCommandFrame.h"

namespace {

const std::size_t headerSize = 7;
const unsigned char missedType = 1;

bool IsMark(const ByteVec& record)
{
    return record[0] == missedType;
}

} // namespace

bool CardTrafficLog::IsLogRead(const ByteVec& frame)
{
    // address, function, length, sub-command (2 bytes), ...
    return frame.size() >= 5 && frame[1] == VendorCommandFrame::functionCode && frame[3] == 0 &&
           frame[4] == subCommand;
}

void CardTrafficLog::Record(Direction direction, const ByteVec& frame, std::int64_t nowMs)
{
    const std::size_t n = std::min<std::size_t>(frame.size(), 255);
    // 16 us units: ms * 1000 / 16.
    const std::uint64_t units = static_cast<std::uint64_t>(nowMs < 0 ? 0 : nowMs) * 125 / 2;
    ByteVec record{static_cast<unsigned char>(direction),
                   static_cast<unsigned char>(units),
                   static_cast<unsigned char>(units >> 8),
                   static_cast<unsigned char>(units >> 16),
                   static_cast<unsigned char>(units >> 24),
                   static_cast<unsigned char>(units >> 32),
                   static_cast<unsigned char>(n)};
    record.insert(record.end(), frame.begin(), frame.begin() + long(n));
    while (m_size + record.size() > capacity && DropOldest()) {
    }
    m_size += record.size();
    m_records.push_back(std::move(record));
}

bool CardTrafficLog::DropOldest()
{
    std::size_t at = m_readOfFirst > 0 ? 1 : 0;
    if (at < m_records.size() && IsMark(m_records[at]))
        ++at;
    if (at >= m_records.size())
        return false;
    ByteVec& dropped = m_records[at];
    m_size -= dropped.size();
    if (at > 0 && IsMark(m_records[at - 1])) {
        m_records.erase(m_records.begin() + long(at));
    } else {
        // The mark keeps the dropped record's time, so times still run forwards.
        dropped[0] = missedType;
        dropped[6] = 0;
        dropped.resize(headerSize);
        m_size += headerSize;
    }
    return true;
}

int CardTrafficLog::HandleRead(const ByteVec& arguments, ByteVec& payload)
{
    if (arguments.size() != 1 || arguments[0] > 1)
        return illegalDataValue;
    if (arguments[0] == 0) {
        m_records.clear();
        m_size = 0;
        m_readOfFirst = 0;
        return 0;
    }
    while (payload.size() < maxChunk && !m_records.empty()) {
        const ByteVec& first = m_records.front();
        const std::size_t take = std::min(maxChunk - payload.size(), first.size() - m_readOfFirst);
        payload.insert(payload.end(), first.begin() + long(m_readOfFirst),
                       first.begin() + long(m_readOfFirst + take));
        m_readOfFirst += take;
        if (m_readOfFirst == first.size()) {
            m_size -= first.size();
            m_records.pop_front();
            m_readOfFirst = 0;
        }
    }
    return 0;
}
