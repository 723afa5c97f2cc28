#include "simulator/CardCalibrationStore.h"

#include <algorithm>
#include <cstring>

namespace {
const std::size_t blockSizes[CardCalibrationStore::numBlocks] = {64, 64, 64, 64, 4, 64, 64, 4};
}

CardCalibrationStore::CardCalibrationStore()
{
    for (std::size_t size : blockSizes)
        m_blocks.emplace_back(size, 0);
}

std::size_t CardCalibrationStore::BlockSize(unsigned block)
{
    return block < numBlocks ? blockSizes[block] : 0;
}

int CardCalibrationStore::HandleRead(const ByteVec& arguments, ByteVec& payload) const
{
    if (arguments.size() != 1 || arguments[0] >= numBlocks)
        return illegalDataValue;
    payload = m_blocks[arguments[0]];
    return 0;
}

int CardCalibrationStore::HandleStore(const ByteVec& arguments)
{
    if (arguments.size() != 1 || arguments[0] > 1)
        return illegalDataValue;
    if (arguments[0] == 0) {
        m_writing = true;
    } else {
        if (!m_writing)
            return deviceFailure;
        m_writing = false;
        m_stored = true;
    }
    return 0;
}

int CardCalibrationStore::HandleWrite(const ByteVec& arguments)
{
    if (arguments.empty() || arguments[0] >= numBlocks ||
        arguments.size() - 1 != blockSizes[arguments[0]])
        return illegalDataValue;
    if (!m_writing)
        return deviceFailure;
    m_blocks[arguments[0]].assign(arguments.begin() + 1, arguments.end());
    return 0;
}

std::vector<float> CardCalibrationStore::Values(unsigned block) const
{
    std::vector<float> values;
    if (block >= numBlocks)
        return values;
    const ByteVec& bytes = m_blocks[block];
    for (std::size_t at = 0; at + 4 <= bytes.size(); at += 4) {
        const std::uint32_t bits = std::uint32_t(bytes[at]) | (std::uint32_t(bytes[at + 1]) << 8) |
                                   (std::uint32_t(bytes[at + 2]) << 16) |
                                   (std::uint32_t(bytes[at + 3]) << 24);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        values.push_back(value);
    }
    return values;
}

float CardCalibrationStore::Value(unsigned block, unsigned index) const
{
    const std::vector<float> values = Values(block);
    return index < values.size() ? values[index] : 0.0f;
}

void CardCalibrationStore::SetValues(unsigned block, const std::vector<float>& values)
{
    if (block >= numBlocks)
        return;
    ByteVec& bytes = m_blocks[block];
    std::fill(bytes.begin(), bytes.end(), 0);
    for (std::size_t i = 0; i < values.size() && 4 * i + 4 <= bytes.size(); ++i) {
        std::uint32_t bits;
        std::memcpy(&bits, &values[i], sizeof bits);
        for (int b = 0; b < 4; ++b)
            bytes[4 * i + b] = static_cast<unsigned char>(bits >> (8 * b));
    }
    m_stored = true;
}
