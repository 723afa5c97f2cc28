#include "protocol/TolvarenTypes.h"

#include <boost/throw_exception.hpp>

namespace Tolvaren {

Date Date::FromByteVec(const ByteVec& bytes)
{
    if (bytes.size() != 4) {
        boost::throw_exception(ExceptionWithString("Date::FromByteVec(): data length is not 4"));
    }
    return Date(bytes[0], bytes[1], static_cast<std::uint16_t>(bytes[2] | (bytes[3] << 8)));
}

ByteVec Date::ToByteVec() const
{
    return ByteVec{day, month, static_cast<unsigned char>(year & 0xFF),
                   static_cast<unsigned char>(year >> 8)};
}

} // namespace Tolvaren
