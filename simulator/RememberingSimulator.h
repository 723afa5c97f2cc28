#pragma once

#include <cstdint>
#include <map>

#include <boost/optional.hpp>

#include "simulator/ModbusSimulator.h"

// A generic Modbus slave that answers reads from four tables and remembers what is written.
//
// A register entry holds the whole value stored at its address (a 4-byte float, a 40-byte
// label), not one 16-bit word: a read of N registers at A returns the entries at A, A+1, ...
// up to 2N bytes. Input registers and discrete inputs cannot be written over Modbus.
//
// Threads: the table accessors below may be called from any thread; they take the same lock
// under which requests are handled.
class RememberingSimulator : public ModbusSimulator
{
public:
    RememberingSimulator();

    int HandleRequest(unsigned char functionCode, const ByteVec& requestData,
                      ByteVec& replyData) override;

    void SetInputRegister(std::uint16_t address, const ByteVec& value);
    void SetHoldingRegister(std::uint16_t address, const ByteVec& value);
    void SetDiscreteInput(std::uint16_t address, bool value);
    void SetCoil(std::uint16_t address, bool value);
    // Convenience for the common 16-bit entries, stored big-endian.
    void SetInputRegisterUInt16(std::uint16_t address, std::uint16_t value);
    void SetHoldingRegisterUInt16(std::uint16_t address, std::uint16_t value);

    boost::optional<ByteVec> InputRegister(std::uint16_t address) const;
    boost::optional<ByteVec> HoldingRegister(std::uint16_t address) const;
    boost::optional<bool> DiscreteInput(std::uint16_t address) const;
    boost::optional<bool> Coil(std::uint16_t address) const;

protected:
    typedef std::map<std::uint16_t, ByteVec> RegisterMap;
    typedef std::map<std::uint16_t, bool> BitMap;

    // For subclasses, inside HandleRequest or with LockState() held.
    RegisterMap& InputRegisters() { return m_inputRegisters; }
    RegisterMap& HoldingRegisters() { return m_holdingRegisters; }
    BitMap& DiscreteInputs() { return m_discreteInputs; }
    BitMap& Coils() { return m_coils; }

private:
    int ReadBits(BitMap& bits, const ByteVec& request, ByteVec& reply);
    int ReadHoldingRegisters(const ByteVec& request, ByteVec& reply);
    int ReadInputRegisters(const ByteVec& request, ByteVec& reply);
    int WriteSingleCoil(const ByteVec& request, ByteVec& reply);
    int WriteSingleRegister(const ByteVec& request, ByteVec& reply);
    int WriteMultipleCoils(const ByteVec& request, ByteVec& reply);
    int WriteMultipleRegisters(const ByteVec& request, ByteVec& reply);

    RegisterMap m_inputRegisters;
    RegisterMap m_holdingRegisters;
    BitMap m_discreteInputs;
    BitMap m_coils;
};
