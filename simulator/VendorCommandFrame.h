#pragma once

#include <cstdint>

#include "comms/ByteVec.h"

// Slave side of the vendor function (Modbus function code 100).
//   request data: length of what follows (2 + arguments), sub-command (big-endian), arguments
//   reply data:   length of what follows (2 + payload), sub-command echoed, payload
namespace VendorCommandFrame {

const unsigned char functionCode = 100;
// What is left of a frame for the payload once the length and echo bytes are counted.
const std::size_t maxPayload = 249;

// Splits the request data; false when it is shorter than 3 bytes or its length byte is wrong.
bool ParseRequest(const ByteVec& requestData, std::uint16_t& subCommand, ByteVec& arguments);

// Builds the reply data for a successful sub-command; false when the payload is too long for
// one frame.
bool BuildReply(std::uint16_t subCommand, const ByteVec& payload, ByteVec& replyData);

} // namespace VendorCommandFrame
