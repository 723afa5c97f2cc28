#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "comms/ByteVec.h"

// The card's configuration image, as saved in a .dat file byte for byte:
//   version (1 byte), card type (1 byte), then for version 3 three sections, each a length
//   (uint32, least significant byte first) and its bytes: the card's own configuration data
//   (opaque, at least 4 bytes), the notes section and the Control Module block. Version 2 has
//   the first two sections only (anything after them is ignored); version 1 is the
//   configuration data filling the rest of the file.
//
// Notes section: per point, inputs then outputs in index order, the index within its direction
// and the text length (uint32 each, least significant byte first), then the text.
// Control Module block, as kept in the card's EE memory: total length (int16, header included),
// CRC-16/MODBUS of the content (16 bits), both least significant byte first, then the content.
//
// Images come from files and are not trusted: every length is checked against the data before
// anything is read or allocated. Failures throw ExceptionWithString with the user-facing texts.
// Plain functions on values; no threads.
struct CardConfigImage
{
    static constexpr unsigned char currentVersion = 3;
    static constexpr std::size_t blockHeaderSize = 4;

    int version = currentVersion;
    int cardType = 0;
    ByteVec configData;
    ByteVec notes;
    ByteVec controlModuleBlock;

    // Checks the header, then asks cardTypeOfTarget() (the card the image is for) and refuses an
    // image of another type, then splits the sections.
    static CardConfigImage Parse(const ByteVec& image,
                                 const std::function<int()>& cardTypeOfTarget);
    // The version 3 image of these sections.
    ByteVec Build() const;

    static void AppendNote(ByteVec& notes, unsigned index, const std::string& text);
    // The notes of every point, inputs then outputs; empty when the section is empty.
    static std::vector<std::string> ParseNotes(const ByteVec& notes, unsigned numInputs,
                                               unsigned numOutputs);

    // A block's own checksum and the CRC of its content (both need at least 4 bytes).
    static std::uint16_t BlockChecksum(const ByteVec& block);
    static std::uint16_t BlockContentCrc(const ByteVec& block);
    // Refuses a block whose length field or CRC is wrong.
    static void CheckControlModuleBlock(const ByteVec& block);
    // What a card without a valid block yields: length 4, CRC of nothing.
    static ByteVec EmptyControlModuleBlock();

    // The sections that a restore of `written` did not leave in the card, judged from the image
    // read back afterwards: "configuration data", "notes", "Control Module block"; empty when
    // everything arrived. Sections the restore does not write are not compared: notes when the
    // card keeps none (or the written image has no notes section), a block that the written
    // image lacks or the card does not keep. Throws as Parse for a written image it refuses.
    static std::vector<std::string> RestoreDifferences(const ByteVec& written,
                                                       const ByteVec& readBack,
                                                       bool notesSupported);
};
