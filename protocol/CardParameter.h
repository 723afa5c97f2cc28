#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "async/FuturePtr.h"

// One parameter of a card's control modules, as the card lists it (vendor sub-commands 9, 10).
struct CardParameter
{
    // Bits of flags.
    static const std::uint16_t exponentMask = 0x000F;   // decimal exponent d
    static const std::uint16_t divideFlag = 0x0100;     // shown = raw / 10^d, d decimals (else
                                                        // raw * 10^d, no decimals)
    static const std::uint16_t unsignedFlag = 0x0200;   // raw is unsigned 16-bit (else signed)
    static const std::uint16_t enumeratedFlag = 0x0400; // one of enumValues, shown by its label
    static const std::uint16_t writableFlag = 0x0800;
    static const std::uint16_t storageMask = 0x7000;

    // Storage kinds (flags & storageMask).
    static const std::uint16_t namedVariableStorage = 0x0000; // named variable "~" + name
    static const std::uint16_t coilStorage = 0x1000;
    static const std::uint16_t discreteInputStorage = 0x2000;
    static const std::uint16_t holdingRegisterStorage = 0x3000;
    static const std::uint16_t inputRegisterStorage = 0x4000;

    struct EnumValue
    {
        std::string label;
        std::uint16_t value = 0;

        EnumValue() = default;
        EnumValue(std::string l, std::uint16_t v) : label(std::move(l)), value(v) {}
        bool operator==(const EnumValue& o) const { return label == o.label && value == o.value; }
    };

    std::string name;
    std::string units;
    std::uint16_t address = 0; // for the register, coil and discrete-input kinds
    std::uint16_t flags = 0;
    std::vector<EnumValue> enumValues; // card order; empty unless enumerated

    unsigned Exponent() const { return flags & exponentMask; }
    std::uint16_t Storage() const { return flags & storageMask; }
    bool IsEnumerated() const { return (flags & enumeratedFlag) != 0; }
    bool IsWritable() const { return (flags & writableFlag) != 0; }
    bool IsUnsigned() const { return (flags & unsignedFlag) != 0; }
    bool Divides() const { return (flags & divideFlag) != 0; }
};

typedef std::vector<CardParameter> CardParamsVec;

// The definitions shared by all parameter tables of one card.
// Threads: written by the table that reads the definitions, in the user-interface thread.
struct SharedCardParams
{
    enum State {
        NotRequested = 0,
        BeingRead = 1,
        Read = 2,
    };

    int state = NotRequested;
    CardParamsVec params;
};

typedef boost::shared_ptr<SharedCardParams> SharedCardParamsPtr;

template <> struct FuturePtrMetaTypeName<CardParamsVec>
{
    static const char* Name() { return "FuturePtr< CardParamsVec >::type"; }
};
