#pragma once

#include <memory>
#include <string>

#include "comms/ExceptionWithString.h"

// A fixed-capacity circular byte buffer: the send queue of a serial connection.
// Not locked: its owner serialises access (CommsConnection holds its CLockHandle).
class Circbuf
{
public:
    class Error : public ExceptionWithString
    {
    public:
        explicit Error(const std::string& message) : ExceptionWithString(message) {}
    };

    explicit Circbuf(unsigned capacity);

    // Throws Error "no room" when full.
    void PushByte(unsigned char b);
    // All n bytes or none: throws Error "no room" when fewer than n are free.
    void Push(const unsigned char* src, unsigned n);
    // Throws Error "no data to return" when empty.
    unsigned char PopByte();
    void Pop(unsigned n, unsigned char* dst);
    // The byte offset places after the oldest; Error "invalid offset" past the end.
    unsigned char Peek(unsigned offset) const;
    void Clear();

    unsigned Capacity() const { return m_capacity; }
    unsigned Start() const { return m_start; }
    unsigned Count() const { return m_count; }
    bool IsEmpty() const { return m_count == 0; }

private:
    unsigned m_capacity;
    unsigned m_start = 0;
    unsigned m_count = 0;
    std::unique_ptr<unsigned char[]> m_data;
};
