#pragma once

#include <cstdint>

// Which card a simulated card stands for: its type (input register 910), register-map version
// (65433), hardware revision (903) and serial number (900; 0 means not set). The point counts
// follow from the type. The default is the full "KTV-ROLM-73C6E" of the serving program.
struct CardModel
{
    static constexpr int inputCard = 1;  // Tolvaren Input Card: 16 inputs
    static constexpr int outputCard = 2; // Tolvaren Output Card: 16 outputs
    static constexpr int fullCard = 4;   // KTV-ROLM-73C6E: 24 inputs, 24 outputs

    int cardType = fullCard;
    std::uint16_t registerMapVersion = 10;
    std::uint16_t hardwareRevision = 1;
    std::uint16_t serialNumber = 1207;

    static CardModel Make(int type, std::uint16_t version, std::uint16_t revision,
                          std::uint16_t serial)
    {
        CardModel model;
        model.cardType = type;
        model.registerMapVersion = version;
        model.hardwareRevision = revision;
        model.serialNumber = serial;
        return model;
    }

    unsigned NumInputs() const
    {
        return cardType == inputCard ? 16 : cardType == outputCard ? 0 : 24;
    }
    unsigned NumOutputs() const
    {
        return cardType == inputCard ? 0 : cardType == outputCard ? 16 : 24;
    }
    bool IsDefault() const { return cardType == fullCard; }
};
