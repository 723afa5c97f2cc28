#include "simulator/CardSettings.h"

#include <algorithm>
#include <string>

#include "modbus/ModbusCrc.h"
#include "simulator/CardBytes.h"

namespace {

const unsigned char header[CardSettings::headerSize] = {'K', 'T', 'V', 3};
const std::size_t cardWideAt = 6;
const std::size_t pointsAt = 14;
const std::size_t pointSize =
    CardSettings::labelSize + CardSettings::partNumberSize + 2 + 2 + 2 + 4 + CardSettings::dateSize;
const std::size_t outputExtraSize = 4 + 1 + 4;
const std::size_t crcSize = 2;

void AppendPoint(ByteVec& out, const CardSettings::Point& p, bool isOutput)
{
    out.insert(out.end(), p.label.begin(), p.label.end());
    out.insert(out.end(), p.partNumber.begin(), p.partNumber.end());
    CardBytes::AppendU16(out, p.profile);
    CardBytes::AppendU16(out, static_cast<std::uint16_t>(p.lowerLimit));
    CardBytes::AppendU16(out, static_cast<std::uint16_t>(p.upperLimit));
    CardBytes::AppendFloat(out, p.offset);
    out.insert(out.end(), p.date.begin(), p.date.end());
    if (!isOutput)
        return;
    CardBytes::AppendFloat(out, p.overrideValue);
    out.push_back(p.overrideActive ? 1 : 0);
    CardBytes::AppendFloat(out, p.safeValue);
}

// Reads fields one after another; the caller has checked the size.
class Reader
{
public:
    Reader(const ByteVec& bytes, std::size_t at) : m_bytes(bytes), m_at(at) {}

    ByteVec Bytes(std::size_t n)
    {
        m_at += n;
        return ByteVec(m_bytes.begin() + long(m_at - n), m_bytes.begin() + long(m_at));
    }
    std::uint16_t U16()
    {
        m_at += 2;
        return CardBytes::ReadU16(m_bytes, m_at - 2);
    }
    float Float()
    {
        m_at += 4;
        return CardBytes::ReadFloat(m_bytes, m_at - 4);
    }
    unsigned char Byte() { return m_bytes[m_at++]; }

private:
    const ByteVec& m_bytes;
    std::size_t m_at;
};

bool ReadPoint(Reader& in, CardSettings::Point& p, bool isOutput)
{
    p.label = in.Bytes(CardSettings::labelSize);
    p.partNumber = in.Bytes(CardSettings::partNumberSize);
    p.profile = in.U16();
    p.lowerLimit = static_cast<std::int16_t>(in.U16());
    p.upperLimit = static_cast<std::int16_t>(in.U16());
    p.offset = in.Float();
    p.date = in.Bytes(CardSettings::dateSize);
    if (!isOutput)
        return true;
    p.overrideValue = in.Float();
    const unsigned char active = in.Byte();
    p.overrideActive = active == 1;
    p.safeValue = in.Float();
    return active <= 1;
}

} // namespace

CardSettings CardSettings::Defaults(unsigned numInputs, unsigned numOutputs)
{
    CardSettings settings;
    settings.inputs.resize(numInputs);
    settings.outputs.resize(numOutputs);
    for (unsigned i = 0; i < numInputs; ++i)
        settings.inputs[i].label = CardBytes::Text("Input " + std::to_string(i + 1), labelSize);
    for (unsigned i = 0; i < numOutputs; ++i)
        settings.outputs[i].label = CardBytes::Text("Output " + std::to_string(i + 1), labelSize);
    return settings;
}

std::size_t CardSettings::EncodedSize(unsigned numInputs, unsigned numOutputs)
{
    return pointsAt + numInputs * pointSize + numOutputs * (pointSize + outputExtraSize) + crcSize;
}

ByteVec CardSettings::Encode() const
{
    ByteVec out(header, header + headerSize);
    out.reserve(EncodedSize(unsigned(inputs.size()), unsigned(outputs.size())));
    out.push_back(static_cast<unsigned char>(inputs.size()));
    out.push_back(static_cast<unsigned char>(outputs.size()));
    CardBytes::AppendU16(out, commsDogBusOffSeconds);
    CardBytes::AppendU16(out, commsDogOutputsOffSeconds);
    CardBytes::AppendFloat(out, softDogMinutes);
    for (const Point& p : inputs)
        AppendPoint(out, p, false);
    for (const Point& p : outputs)
        AppendPoint(out, p, true);
    AppendModbusCrc(out);
    return out;
}

bool CardSettings::HasKnownHeader(const ByteVec& bytes)
{
    return bytes.size() >= headerSize && std::equal(header, header + headerSize, bytes.begin());
}

std::optional<CardSettings> CardSettings::Decode(const ByteVec& bytes, unsigned numInputs,
                                                 unsigned numOutputs)
{
    if (!HasKnownHeader(bytes) || bytes.size() != EncodedSize(numInputs, numOutputs) ||
        bytes[4] != numInputs || bytes[5] != numOutputs ||
        !HasValidModbusCrc(bytes.data(), bytes.size()))
        return std::nullopt;
    CardSettings settings;
    Reader in(bytes, cardWideAt);
    settings.commsDogBusOffSeconds = in.U16();
    settings.commsDogOutputsOffSeconds = in.U16();
    settings.softDogMinutes = in.Float();
    settings.inputs.resize(numInputs);
    settings.outputs.resize(numOutputs);
    for (Point& p : settings.inputs)
        ReadPoint(in, p, false);
    for (Point& p : settings.outputs) {
        if (!ReadPoint(in, p, true))
            return std::nullopt;
    }
    return settings;
}
