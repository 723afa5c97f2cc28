#include "simulator/LineSchedule.h"

#include <algorithm>

LineSchedule::LineSchedule(Duration byteTime, Duration latency)
    : m_byteTime(byteTime), m_latency(latency)
{
}

LineSchedule::Duration LineSchedule::ByteTime(unsigned baudRate)
{
    const long long bitsPerByte = 10;
    return Duration(bitsPerByte * 1000000000LL / baudRate);
}

LineSchedule::TimePoint LineSchedule::DueOf(const Burst& burst, std::size_t index) const
{
    return burst.firstDue + m_byteTime * static_cast<long long>(index);
}

void LineSchedule::Add(TimePoint at, const unsigned char* bytes, std::size_t count)
{
    if (count == 0)
        return;
    const bool idle = m_lineFreeAt <= at;
    const TimePoint start = idle ? at + m_latency : m_lineFreeAt;
    Burst burst;
    burst.firstDue = start + m_byteTime;
    burst.bytes.assign(bytes, bytes + count);
    m_lineFreeAt = start + m_byteTime * static_cast<long long>(count);
    m_bursts.push_back(std::move(burst));
}

LineSchedule::TimePoint LineSchedule::NextDue() const
{
    const Burst& first = m_bursts.front();
    return DueOf(first, first.taken);
}

LineSchedule::TimePoint LineSchedule::WakeAt(Duration hold) const
{
    const Burst& last = m_bursts.back();
    return std::min(DueOf(last, last.bytes.size() - 1), NextDue() + hold);
}

ByteVec LineSchedule::TakeDue(TimePoint now)
{
    ByteVec due;
    while (!m_bursts.empty()) {
        Burst& burst = m_bursts.front();
        if (now < DueOf(burst, burst.taken))
            break;
        std::size_t arrived = burst.bytes.size();
        if (m_byteTime.count() > 0) {
            // Bytes 0..k have arrived where firstDue + k byte times <= now.
            const auto k = static_cast<std::size_t>((now - burst.firstDue) / m_byteTime);
            arrived = std::min(arrived, k + 1);
        }
        due.insert(due.end(), burst.bytes.begin() + long(burst.taken),
                   burst.bytes.begin() + long(arrived));
        burst.taken = arrived;
        if (burst.taken < burst.bytes.size())
            break;
        m_bursts.pop_front();
    }
    return due;
}
