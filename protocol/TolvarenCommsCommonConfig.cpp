// The configuration image of TolvarenCommsCommon: reading it from a card and writing it back.

#include <algorithm>

#include <boost/throw_exception.hpp>

#include "modbus/ModbusErrors.h"
#include "protocol/CardConfigImage.h"
#include "protocol/ProtocolBytes.h"
#include "protocol/TolvarenCommsCommon.h"

using namespace Tolvaren;

namespace {

// The Control Module block lives in EE memory from here on.
const std::uint32_t controlModuleAddress = 0x1C000;
const std::size_t eePieceLength = 128;
const std::size_t configPieceLength = 128;
const std::uint16_t firstVersionWithControlModules = 8;
const unsigned char clearNotesKey = 15;
const unsigned char acceptsNoConfig = 3;
// A card's configuration data are a few kilobytes; a card that keeps sending more than this is
// not answering sensibly, and the image must not grow without end.
const std::size_t maxConfigData = 1 << 20;

std::uint16_t U16LE(const ByteVec& bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

ByteVec EeWriteArguments(std::uint32_t address, ByteVec::const_iterator from,
                         ByteVec::const_iterator to)
{
    ByteVec args;
    ProtocolBytes::AppendU32(args, address);
    args.insert(args.end(), from, to);
    return args;
}

} // namespace

boost::future<ByteVec> TolvarenCommsCommon::GetCardConfig()
{
    return m_calls.Call<ByteVec>([this] { return CardConfigNow(); });
}

boost::future<void> TolvarenCommsCommon::SetCardConfig(const ByteVec& image)
{
    return m_calls.Call<void>([this, image] { SetCardConfigNow(image); });
}

ByteVec TolvarenCommsCommon::CardConfigNow()
{
    CardConfigImage image;
    image.configData = Qel(QEL_READ_CONFIG_START).get();
    if (image.configData.size() != 4) {
        boost::throw_exception(Modbus::Error("Invalid response to QEL_READ_CONFIG_START"));
    }
    for (;;) {
        const ByteVec piece = Qel(QEL_READ_CONFIG_NEXT).get();
        if (piece.empty()) {
            break;
        }
        if (image.configData.size() + piece.size() > maxConfigData) {
            boost::throw_exception(Modbus::Error("Invalid response to QEL_READ_CONFIG_NEXT"));
        }
        image.configData.insert(image.configData.end(), piece.begin(), piece.end());
    }

    for (IoDirection dir : {Input, Output}) {
        const unsigned count = NumPointsNow(dir);
        for (unsigned i = 0; i < count; ++i) {
            CardConfigImage::AppendNote(image.notes, i, IoNoteNow(dir, i));
        }
    }

    if (AreCardParamsSupported() && RegisterVersionNow() >= firstVersionWithControlModules) {
        image.controlModuleBlock = ControlModuleBlockNow();
    }
    image.cardType = CardTypeNow(true);
    return image.Build();
}

// The bus master may rewrite the block while we read it: its checksum read again afterwards
// must be the one we started with, and must match what we collected.
ByteVec TolvarenCommsCommon::ControlModuleBlockNow()
{
    const ByteVec header = ReadEe(controlModuleAddress, CardConfigImage::blockHeaderSize);
    const std::int16_t length = static_cast<std::int16_t>(U16LE(header, 0));
    const std::uint16_t checksum = U16LE(header, 2);

    ByteVec block;
    for (std::size_t at = 0; length > 0 && at < std::size_t(length); at += eePieceLength) {
        const std::size_t piece = std::min(eePieceLength, std::size_t(length) - at);
        const ByteVec bytes =
            ReadEe(controlModuleAddress + std::uint32_t(at), static_cast<std::uint8_t>(piece));
        block.insert(block.end(), bytes.begin(), bytes.end());
    }

    if (U16LE(ReadEe(controlModuleAddress, CardConfigImage::blockHeaderSize), 2) != checksum) {
        boost::throw_exception(Modbus::Error("Control Module config changed while uploading it."));
    }
    if (block.size() < CardConfigImage::blockHeaderSize) {
        return CardConfigImage::EmptyControlModuleBlock();
    }
    if (CardConfigImage::BlockContentCrc(block) != checksum) {
        boost::throw_exception(Modbus::Error("Control Module config is corrupt."));
    }
    return block;
}

// Everything that can be checked is checked before the first write, so that a bad file never
// leaves the card half configured; only the card itself can still refuse part way.
void TolvarenCommsCommon::SetCardConfigNow(const ByteVec& bytes)
{
    const CardConfigImage image =
        CardConfigImage::Parse(bytes, [this] { return CardTypeNow(true); });
    const std::uint16_t version = RegisterVersionNow();

    // A card before version 8 has no block: it is not asked about parameters at all.
    const bool writeBlock = !image.controlModuleBlock.empty() &&
                            version >= firstVersionWithControlModules && AreCardParamsSupported();
    if (writeBlock) {
        CardConfigImage::CheckControlModuleBlock(image.controlModuleBlock);
    }
    const bool writeNotes = NotesSupportedNow();
    std::vector<std::string> notes;
    if (writeNotes) {
        notes = CardConfigImage::ParseNotes(image.notes, TolvarenNumInputs(image.cardType),
                                            TolvarenNumOutputs(image.cardType));
    }

    const ByteVec& data = image.configData;
    try {
        Qel(QEL_WRITE_CONFIG_START, ByteVec(data.begin(), data.begin() + 4)).get();
    } catch (const Modbus::Error& e) {
        if (e.IsExceptionReply(acceptsNoConfig)) {
            boost::throw_exception(Modbus::Error(
                "card is not accepting the configuration - probably card firmware needs updating",
                Modbus::ExceptionReply, acceptsNoConfig, e.Reply()));
        }
        throw;
    }
    for (std::size_t at = 4; at < data.size(); at += configPieceLength) {
        const std::size_t length = std::min(configPieceLength, data.size() - at);
        Qel(QEL_WRITE_CONFIG_NEXT,
            ByteVec(data.begin() + long(at), data.begin() + long(at + length)))
            .get();
    }
    Qel(QEL_WRITE_CONFIG_NEXT).get();

    if (writeBlock) {
        WriteControlModuleBlockNow(image.controlModuleBlock);
    }

    if (writeNotes) {
        Qel(QEL_CLEAR_NOTES, ByteVec{clearNotesKey}).get();
        const unsigned numInputs = TolvarenNumInputs(image.cardType);
        for (std::size_t i = 0; i < notes.size(); ++i) {
            const bool input = i < numInputs;
            IoNoteWriteNow(input ? Input : Output, unsigned(input ? i : i - numInputs), notes[i]);
        }
    }

    if (version >= firstVersionWithControlModules) {
        try {
            Qel(QEL_RESTART).get();
        } catch (const Modbus::TimeoutError&) {
            // The card restarts at once, usually without answering.
        }
    }
}

void TolvarenCommsCommon::WriteControlModuleBlockNow(const ByteVec& block)
{
    for (std::size_t at = 0; at < block.size(); at += eePieceLength) {
        const std::size_t length = std::min(eePieceLength, block.size() - at);
        Qel(QEL_EE_WRITE,
            EeWriteArguments(controlModuleAddress + std::uint32_t(at), block.begin() + long(at),
                             block.begin() + long(at + length)))
            .get();
    }
    const ByteVec header = Qel(QEL_EE_READ,
                               [] {
                                   ByteVec args;
                                   ProtocolBytes::AppendU32(args, controlModuleAddress);
                                   args.push_back(CardConfigImage::blockHeaderSize);
                                   return args;
                               }())
                               .get();
    if (header.size() < CardConfigImage::blockHeaderSize) {
        boost::throw_exception(
            ExceptionWithString("ReadValueFromByteVec(): not enough data to read the value"));
    }
    if (U16LE(header, 2) != CardConfigImage::BlockChecksum(block)) {
        boost::throw_exception(ExceptionWithString(
            "The Control Module configuration has been altered while it was being updated. Try "
            "again without any Modbus connected (the configuration in the card is probably invalid "
            "currently)."));
    }
}
