#include "simulator/VendorCommandFrame.h"

namespace VendorCommandFrame {

bool ParseRequest(const ByteVec& requestData, std::uint16_t& subCommand, ByteVec& arguments)
{
    if (requestData.size() < 3 || requestData[0] != requestData.size() - 1)
        return false;
    subCommand = static_cast<std::uint16_t>((requestData[1] << 8) | requestData[2]);
    arguments.assign(requestData.begin() + 3, requestData.end());
    return true;
}

bool BuildReply(std::uint16_t subCommand, const ByteVec& payload, ByteVec& replyData)
{
    if (payload.size() > maxPayload)
        return false;
    replyData.clear();
    replyData.reserve(3 + payload.size());
    replyData.push_back(static_cast<unsigned char>(2 + payload.size()));
    replyData.push_back(static_cast<unsigned char>(subCommand >> 8));
    replyData.push_back(static_cast<unsigned char>(subCommand));
    replyData.insert(replyData.end(), payload.begin(), payload.end());
    return true;
}

} // namespace VendorCommandFrame
