#include "calibration/CalibBoard.h"

#include <boost/throw_exception.hpp>

#include "calibration/CalibBoardCommands.h"

namespace {

unsigned char ToByte(unsigned value)
{
    if (value > 255)
        boost::throw_exception(CalibBoardLink::Error("Val is too big to fit in a byte"));
    return static_cast<unsigned char>(value);
}

} // namespace

CalibBoard::CalibBoard(int port) : m_link(port) {}

unsigned char CalibBoard::GetVersion()
{
    ByteVec payload;
    m_link.Transact(CalibBoardCommands::GetVersion, ByteVec(), &payload);
    if (payload.size() != 1)
        boost::throw_exception(
            CalibBoardLink::Error("reply data size from get-version command is not 1 byte"));
    return payload[0];
}

void CalibBoard::SetConfig(unsigned input, unsigned pathCode, unsigned selection)
{
    const ByteVec payload = {ToByte(input), ToByte(pathCode), ToByte(selection)};
    m_link.Transact(CalibBoardCommands::SetConfig, payload);
}
