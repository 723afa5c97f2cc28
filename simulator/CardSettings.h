#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "comms/ByteVec.h"

// What a simulated card keeps of its set-up, in the form its configuration data (vendor
// sub-commands 1 to 4) and its EE memory carry it: per point the label, part number, scaling
// profile, limits, offset and calibration date, per output also its override and safe value,
// and card-wide the CommsDog delays and the SoftDog delay. Texts and the date are the bytes of
// their registers.
//
// Layout, numbers most significant byte first as in the card's registers:
//    0  "KTV" and the layout version, 3 (what sub-command 3 carries)
//    4  number of inputs, number of outputs (1 byte each)
//    6  CommsDog bus-off delay (uint16), CommsDog outputs-off delay (uint16), SoftDog minutes
//       (float)
//   14  per input: label (40 bytes), part number (16), profile (uint16), lower limit (int16),
//       upper limit (int16), offset (float), calibration date (4 bytes): 70 bytes;
//       per output: the same, then override value (float), override active (1 byte, 0 or 1),
//       safe value (float): 79 bytes
//  end  CRC-16/MODBUS of every byte before it, least significant byte first
//
// Plain value type; no threads.
struct CardSettings
{
    static constexpr std::size_t headerSize = 4;
    static constexpr std::size_t labelSize = 40;
    static constexpr std::size_t partNumberSize = 16;
    static constexpr std::size_t dateSize = 4;

    struct Point
    {
        ByteVec label = ByteVec(labelSize, 0);
        ByteVec partNumber = ByteVec(partNumberSize, 0);
        std::uint16_t profile = 0;
        std::int16_t lowerLimit = 0;
        std::int16_t upperLimit = 100;
        float offset = 0.0f;
        ByteVec date = ByteVec(dateSize, 0);
        // Outputs only.
        float overrideValue = 0.0f;
        bool overrideActive = false;
        float safeValue = 0.0f;
    };

    std::uint16_t commsDogBusOffSeconds = 0;
    std::uint16_t commsDogOutputsOffSeconds = 0;
    float softDogMinutes = 0.0f;
    std::vector<Point> inputs;
    std::vector<Point> outputs;

    // What a card starts with when its EE holds no valid settings: labels "Input n" and
    // "Output n", profile 0, limits 0 to 100, and no part number, date, offset, override, safe
    // value or watchdog.
    static CardSettings Defaults(unsigned numInputs, unsigned numOutputs);

    ByteVec Encode() const;
    static std::size_t EncodedSize(unsigned numInputs, unsigned numOutputs);
    // Whether bytes begin with the header of this layout.
    static bool HasKnownHeader(const ByteVec& bytes);
    // The settings in bytes of exactly this layout for a card with these point counts; none for
    // another layout or card, a wrong size, a wrong CRC or an override flag other than 0 or 1.
    static std::optional<CardSettings> Decode(const ByteVec& bytes, unsigned numInputs,
                                              unsigned numOutputs);
};
