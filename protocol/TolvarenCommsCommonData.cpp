// Live and 8-day samples of TolvarenCommsCommon.

#include "protocol/TolvarenCommsCommon.h"

#include <boost/throw_exception.hpp>

#include "modbus/ModbusErrors.h"
#include "protocol/ProtocolBytes.h"

using namespace Tolvaren;

std::vector<float> TolvarenCommsCommon::ParseSamples(const ByteVec& payload)
{
    if (payload.empty()) {
        boost::throw_exception(
            Modbus::ReplyTooShortError("reply zero length (invalid request?)"));
    }
    const std::size_t count = payload[0];
    if (payload.size() - 1 < 4 * count)
        boost::throw_exception(Modbus::ReplyTooShortError("reply not long enough yet"));
    if (payload.size() - 1 > 4 * count)
        boost::throw_exception(Modbus::Error("reply too long"));
    std::vector<float> samples;
    samples.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        samples.push_back(ProtocolBytes::ReadFloatBE(payload, 1 + 4 * i));
    return samples;
}

boost::future<std::vector<float>> TolvarenCommsCommon::GetLiveData(IoDirection dir, unsigned index)
{
    // Sub-commands 16 and 17 say 1 for an input point.
    const ByteVec args{static_cast<unsigned char>(dir == Input ? 1 : 0),
                       static_cast<unsigned char>(index)};
    return m_then.ThenInline<std::vector<float>, ByteVec>(
        Qel(QEL_GET_LIVE_DATA, args), [](boost::future<ByteVec>& f) {
            const ByteVec payload = f.get();
            try {
                return ParseSamples(payload);
            } catch (const Modbus::ReplyTooShortError&) {
                boost::throw_exception(Modbus::TimeoutError("actually message was reflected"));
            }
        });
}

boost::future<std::vector<float>>
TolvarenCommsCommon::GetHistoricalData(IoDirection dir, unsigned index, unsigned firstSample)
{
    ByteVec args{static_cast<unsigned char>(dir == Input ? 1 : 0),
                 static_cast<unsigned char>(index)};
    ProtocolBytes::AppendU16(args, static_cast<std::uint16_t>(firstSample));
    return m_then.ThenInline<std::vector<float>, ByteVec>(
        Qel(QEL_GET_HISTORICAL_DATA, args),
        [](boost::future<ByteVec>& f) { return ParseSamples(f.get()); });
}
