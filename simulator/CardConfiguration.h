#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "comms/ByteVec.h"

// The configuration a simulated card keeps for the configuration image: its configuration data
// (vendor sub-commands 1 to 4), which the card builds from its state when a read starts and
// takes into its state when a write is finished, its EE memory (23 and 24) holding a valid
// Control Module block at 0x1C000, and the one parameter definition (9) that tells the tool the
// card has parameters.
//
// Threads: used by the card under its state lock; not thread-safe by itself.
class CardConfiguration
{
public:
    static const std::uint32_t eeSize = 0x40000;
    static const std::uint32_t controlModuleAddress = 0x1C000;
    // Where a card keeps its settings in EE: below the Control Module block, above the two bytes
    // that the service wipe leaves alone.
    static const std::uint32_t settingsAddress = 0x100;
    static const std::size_t maxConfigData = 4096;

    // How the card's state meets its configuration data.
    struct Data
    {
        // The data as the card's state is now.
        std::function<ByteVec()> read;
        // Whether a write starting with these 4 bytes is of a layout the card knows.
        std::function<bool(const ByteVec& start)> knowsStart;
        // Takes finished data into the card's state; false refuses them, changing nothing.
        std::function<bool(const ByteVec& data)> write;
    };

    explicit CardConfiguration(Data data);

    // EE bytes from address on; the range must lie within the memory.
    ByteVec Ee(std::uint32_t address, std::size_t length) const;
    void SetEe(std::uint32_t address, const ByteVec& bytes);

    // Each answers one sub-command: 0 with payload filled, or a Modbus exception code.
    int HandleReadStart(const ByteVec& arguments, ByteVec& payload);
    int HandleReadNext(const ByteVec& arguments, ByteVec& payload);
    int HandleWriteStart(const ByteVec& arguments);
    int HandleWriteNext(const ByteVec& arguments);
    int HandleEeRead(const ByteVec& arguments, ByteVec& payload) const;
    int HandleEeWrite(const ByteVec& arguments);

    // A restart drops any read or write of the configuration data that was under way.
    void Restart();

private:
    Data m_data;
    ByteVec m_readData; // as they were when the read started
    ByteVec m_ee;
    ByteVec m_pendingWrite;
    bool m_writeOpen = false;
    long m_readPosition = -1; // -1: no read open
};
