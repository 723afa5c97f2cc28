#include "comms/Circbuf.h"

#include <algorithm>
#include <cstring>

#include <boost/throw_exception.hpp>

Circbuf::Circbuf(unsigned capacity) : m_capacity(capacity), m_data(new unsigned char[capacity])
{
}

void Circbuf::PushByte(unsigned char b)
{
    if (m_count >= m_capacity)
        boost::throw_exception(Error("no room"));
    m_data[(m_start + m_count) % m_capacity] = b;
    ++m_count;
}

void Circbuf::Push(const unsigned char* src, unsigned n)
{
    if (m_capacity - m_count < n)
        boost::throw_exception(Error("no room"));
    if (n == 0)
        return;
    const unsigned end = (m_start + m_count) % m_capacity;
    const unsigned first = std::min(n, m_capacity - end);
    std::memcpy(&m_data[end], src, first);
    std::memcpy(&m_data[0], src + first, n - first);
    m_count += n;
}

unsigned char Circbuf::PopByte()
{
    if (m_count == 0)
        boost::throw_exception(Error("no data to return"));
    const unsigned char b = m_data[m_start];
    --m_count;
    if (++m_start == m_capacity)
        m_start = 0;
    return b;
}

void Circbuf::Pop(unsigned n, unsigned char* dst)
{
    for (unsigned i = 0; i < n; ++i)
        dst[i] = PopByte();
}

unsigned char Circbuf::Peek(unsigned offset) const
{
    if (offset >= m_count)
        boost::throw_exception(Error("invalid offset"));
    return m_data[(m_start + offset) % m_capacity];
}

void Circbuf::Clear()
{
    m_count = 0;
    m_start = 0;
}
