#pragma once

#include <cstddef>
#include <cstdint>

#include "comms/ByteVec.h"

// The configuration a simulated card keeps for the configuration image: its own configuration
// data (vendor sub-commands 1 to 4; opaque bytes, replaced as a whole when a write is finished),
// its EE memory (23 and 24) holding a valid Control Module block at 0x1C000, and the one
// parameter definition (9) that tells the tool the card has parameters.
//
// Threads: used by the card under its state lock; not thread-safe by itself.
class CardConfiguration
{
public:
    static const std::uint32_t eeSize = 0x40000;
    static const std::uint32_t controlModuleAddress = 0x1C000;
    static const std::size_t maxConfigData = 4096;

    CardConfiguration();

    const ByteVec& ConfigData() const { return m_configData; }
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
    ByteVec m_configData;
    ByteVec m_ee;
    ByteVec m_pendingWrite;
    bool m_writeOpen = false;
    long m_readPosition = -1; // -1: no read open
};
