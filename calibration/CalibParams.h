#pragma once

#include <array>
#include <cstddef>
#include <optional>

#include "comms/ByteVec.h"

// The hardware parameters of the calibration set-up: the references the calibration board
// produces, its reference resistors and the inductor's resistance. Their image lives in the
// board's EEPROM from offset 0: a version byte (1; 0xFF when the EEPROM is erased) and the nine
// values in field order, each an IEEE-754 binary64, little-endian. A plain value type.
struct CalibParams
{
    double voltsA = 0.0;
    double voltsB = 0.0;
    double milliAmpsA = 0.0;
    double milliAmpsB = 0.0;
    double lowerOhmsA = 0.0;
    double lowerOhmsB = 0.0;
    double upperOhmsA = 0.0;
    double upperOhmsB = 0.0;
    double inductorResistance = 0.0;

    static constexpr std::size_t FieldCount = 9;
    static constexpr unsigned char ImageVersion = 1;
    static constexpr unsigned char ImageErased = 0xFF;
    static constexpr std::size_t ValueBytes = FieldCount * 8;
    static constexpr std::size_t ImageSize = 1 + ValueBytes;

    // One field as the calibration window shows it; the table is in image order.
    struct Field
    {
        double CalibParams::*value;
        const char* name;     // the field's name, also the suffix of its settings key
        const char* lineEdit; // the object name of its line edit
        int decimals;         // shown with this many decimals
    };
    static const std::array<Field, FieldCount>& Fields();

    static CalibParams Defaults();

    // Version byte and the nine values, ImageSize bytes, whatever the host's byte order.
    ByteVec ToImage() const;

    // The parameters of an image read from the EEPROM; empty when none are stored (version
    // 0xFF). Throws ExceptionWithString for another version or an image shorter than ImageSize.
    static std::optional<CalibParams> FromImage(const ByteVec& image);

    // True when all 72 value bytes are equal (so -0.0 differs from 0.0, and a NaN equals
    // itself), as the board stores them.
    bool SameBytesAs(const CalibParams& other) const;
};
