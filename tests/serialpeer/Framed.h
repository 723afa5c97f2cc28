#pragma once

#include "comms/ByteVec.h"
#include "modbus/ModbusCrc.h"

// A request or reply as it goes on the line: the bytes and their CRC.
inline ByteVec Framed(ByteVec bytes)
{
    AppendModbusCrc(bytes);
    return bytes;
}
