#include "protocol/CardConfigImage.h"

#include <boost/throw_exception.hpp>

#include "comms/ExceptionWithString.h"
#include "modbus/ModbusCrc.h"
#include "protocol/TolvarenCommsCommon.h"

namespace {

const std::size_t headerSize = 2;
const std::size_t lengthSize = 4;
const std::size_t minConfigData = 4;

[[noreturn]] void Fail(const char* text)
{
    boost::throw_exception(ExceptionWithString(text));
}

[[noreturn]] void CutOff()
{
    Fail("ReadValueFromByteVec(): not enough data to read the value");
}

[[noreturn]] void Corrupt()
{
    Fail("config data invalid (is corrupt)");
}

[[noreturn]] void NotesCorrupt()
{
    Fail("IO Notes data is invalid (is corrupt)");
}

// Sizes are added in 64 bits, so lengths near 4 GB cannot wrap round.
std::uint64_t ReadLengthLE(const ByteVec& bytes, std::uint64_t at)
{
    if (at + lengthSize > bytes.size())
        CutOff();
    return std::uint64_t(bytes[at]) | (std::uint64_t(bytes[at + 1]) << 8) |
           (std::uint64_t(bytes[at + 2]) << 16) | (std::uint64_t(bytes[at + 3]) << 24);
}

void AppendLengthLE(ByteVec& bytes, std::size_t length)
{
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<unsigned char>(length >> shift));
}

ByteVec Slice(const ByteVec& bytes, std::uint64_t at, std::uint64_t length)
{
    return ByteVec(bytes.begin() + long(at), bytes.begin() + long(at + length));
}

void AppendSection(ByteVec& image, const ByteVec& section)
{
    AppendLengthLE(image, section.size());
    image.insert(image.end(), section.begin(), section.end());
}

} // namespace

CardConfigImage CardConfigImage::Parse(const ByteVec& image,
                                       const std::function<int()>& cardTypeOfTarget)
{
    if (image.size() < headerSize + minConfigData)
        Fail("not enough data to be valid");
    CardConfigImage parsed;
    parsed.version = image[0];
    if (parsed.version < 1 || parsed.version > 3)
        Fail("data format version is not a known value - from newer software or corrupt?");
    parsed.cardType = image[1];
    if (parsed.cardType != cardTypeOfTarget())
        Fail("config data is for a different type of card (input vs output etc)");

    if (parsed.version == 1) {
        parsed.configData = Slice(image, headerSize, image.size() - headerSize);
        return parsed;
    }
    const std::uint64_t size = image.size();
    std::uint64_t at = headerSize;
    const std::uint64_t configLength = ReadLengthLE(image, at);
    at += lengthSize;
    if (configLength < minConfigData || at + configLength > size)
        Corrupt();
    parsed.configData = Slice(image, at, configLength);
    at += configLength;

    const std::uint64_t notesLength = ReadLengthLE(image, at);
    at += lengthSize;
    if (at + notesLength > size)
        Corrupt();
    parsed.notes = Slice(image, at, notesLength);
    at += notesLength;

    if (parsed.version == 3) {
        const std::uint64_t blockLength = ReadLengthLE(image, at);
        at += lengthSize;
        if (at + blockLength != size)
            Corrupt();
        parsed.controlModuleBlock = Slice(image, at, blockLength);
    }
    return parsed;
}

ByteVec CardConfigImage::Build() const
{
    ByteVec image{currentVersion, static_cast<unsigned char>(cardType)};
    image.reserve(headerSize + 3 * lengthSize + configData.size() + notes.size() +
                  controlModuleBlock.size());
    AppendSection(image, configData);
    AppendSection(image, notes);
    AppendSection(image, controlModuleBlock);
    return image;
}

void CardConfigImage::AppendNote(ByteVec& notes, unsigned index, const std::string& text)
{
    AppendLengthLE(notes, index);
    AppendLengthLE(notes, text.size());
    notes.insert(notes.end(), text.begin(), text.end());
}

std::vector<std::string> CardConfigImage::ParseNotes(const ByteVec& notes, unsigned numInputs,
                                                     unsigned numOutputs)
{
    std::vector<std::string> texts;
    if (notes.empty())
        return texts;
    std::uint64_t at = 0;
    for (unsigned count : {numInputs, numOutputs}) {
        for (unsigned i = 0; i < count; ++i) {
            if (ReadLengthLE(notes, at) != i)
                NotesCorrupt();
            const std::uint64_t length = ReadLengthLE(notes, at + lengthSize);
            at += 2 * lengthSize;
            if (at + length > notes.size())
                NotesCorrupt();
            texts.emplace_back(notes.begin() + long(at), notes.begin() + long(at + length));
            at += length;
        }
    }
    return texts;
}

std::uint16_t CardConfigImage::BlockChecksum(const ByteVec& block)
{
    return static_cast<std::uint16_t>(block.at(2) | (block.at(3) << 8));
}

std::uint16_t CardConfigImage::BlockContentCrc(const ByteVec& block)
{
    return ModbusCrc(block.data() + blockHeaderSize, block.size() - blockHeaderSize);
}

void CardConfigImage::CheckControlModuleBlock(const ByteVec& block)
{
    if (block.size() < blockHeaderSize)
        Fail("Control Module config is invalid.");
    const std::int16_t length = static_cast<std::int16_t>(block[0] | (block[1] << 8));
    if (length < 0 || std::size_t(length) != block.size())
        Fail("Control Module config is invalid.");
    if (BlockContentCrc(block) != BlockChecksum(block))
        Fail("Control Module config is corrupt.");
}

ByteVec CardConfigImage::EmptyControlModuleBlock()
{
    return ByteVec{0x04, 0x00, 0xFF, 0xFF};
}

std::vector<std::string> CardConfigImage::RestoreDifferences(const ByteVec& written,
                                                             const ByteVec& readBack,
                                                             bool notesSupported)
{
    const int readBackType = readBack.size() > 1 ? readBack[1] : 0;
    const CardConfigImage now = Parse(readBack, [readBackType] { return readBackType; });
    const CardConfigImage was = Parse(written, [&now] { return now.cardType; });
    std::vector<std::string> differences;
    if (was.configData != now.configData)
        differences.push_back("configuration data");
    if (notesSupported && !was.notes.empty() && now.cardType >= 1 && now.cardType <= 4) {
        const unsigned inputs = TolvarenNumInputs(now.cardType);
        const unsigned outputs = TolvarenNumOutputs(now.cardType);
        if (ParseNotes(was.notes, inputs, outputs) != ParseNotes(now.notes, inputs, outputs))
            differences.push_back("notes");
    }
    if (!was.controlModuleBlock.empty() && !now.controlModuleBlock.empty() &&
        was.controlModuleBlock != now.controlModuleBlock)
        differences.push_back("Control Module block");
    return differences;
}
