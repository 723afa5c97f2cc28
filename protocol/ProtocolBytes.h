#pragma once

#include <cstdint>
#include <cstring>

#include <boost/thread/future.hpp>

#include "comms/ByteVec.h"

// Small helpers for vendor payloads (numbers most significant byte first) and ready futures.
namespace ProtocolBytes {

inline void AppendU16(ByteVec& bytes, std::uint16_t value)
{
    bytes.push_back(static_cast<unsigned char>(value >> 8));
    bytes.push_back(static_cast<unsigned char>(value));
}

inline void AppendU32(ByteVec& bytes, std::uint32_t value)
{
    bytes.push_back(static_cast<unsigned char>(value >> 24));
    bytes.push_back(static_cast<unsigned char>(value >> 16));
    bytes.push_back(static_cast<unsigned char>(value >> 8));
    bytes.push_back(static_cast<unsigned char>(value));
}

inline ByteVec U16(std::uint16_t value)
{
    ByteVec bytes;
    AppendU16(bytes, value);
    return bytes;
}

inline std::uint16_t ReadU16(const ByteVec& bytes, std::size_t at)
{
    return static_cast<std::uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

inline std::uint32_t ReadU32(const ByteVec& bytes, std::size_t at)
{
    return (std::uint32_t(bytes[at]) << 24) | (std::uint32_t(bytes[at + 1]) << 16) |
           (std::uint32_t(bytes[at + 2]) << 8) | std::uint32_t(bytes[at + 3]);
}

inline float ReadFloatBE(const ByteVec& bytes, std::size_t at)
{
    const std::uint32_t bits = ReadU32(bytes, at);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline void AppendFloatBE(ByteVec& bytes, float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    AppendU32(bytes, bits);
}

template <class T> boost::future<T> Ready(T value)
{
    boost::promise<T> promise;
    promise.set_value(std::move(value));
    return promise.get_future();
}

inline boost::future<void> ReadyVoid()
{
    boost::promise<void> promise;
    promise.set_value();
    return promise.get_future();
}

} // namespace ProtocolBytes
