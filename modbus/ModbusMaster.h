#pragma once

#include <list>
#include <string>
#include <vector>

#include <boost/thread/future.hpp>
#include <boost/weak_ptr.hpp>

#include "comms/ByteVec.h"
#include "modbus/ModbusMasterDatalink.h"

// Typed Modbus operations on a shared ModbusMasterDatalink. Each operation builds the request
// data of its function code, hands the datalink a parser for the reply data and returns the typed
// future; protocol failures arrive through the future (Modbus::Error, Modbus::TimeoutError, or
// whatever the transport threw). Errors documented as "thrown" reach the caller directly and
// nothing is sent.
//
// Byte order: 16-bit fields big-endian; floats and UINT32s occupy two registers, high word first;
// bits are packed least significant bit first.
//
// Threads: one ModbusMaster is used by one thread at a time (it has no lock of its own); the
// datalink it shares does its own locking. Futures become ready on the datalink's threads (the
// comms thread for replies, the timer thread for time-outs). The destructor cancels every request
// still outstanding: their futures end as broken promises.
class ModbusMaster
{
public:
    // RegisterKind of the register reads: 1 holding registers (code 3), any other value input
    // registers (code 4). Tolvaren::IoDirection converts to it (Output = 1).
    typedef int RegisterKind;
    static const RegisterKind HoldingRegisters = 1;
    static const RegisterKind InputRegisters = 0;

    // The datalink is not owned and must outlive this object.
    explicit ModbusMaster(ModbusMasterDatalink& datalink);
    explicit ModbusMaster(ModbusMasterDatalink* datalink);
    ~ModbusMaster();
    ModbusMaster(const ModbusMaster&) = delete;
    ModbusMaster& operator=(const ModbusMaster&) = delete;

    ModbusMasterDatalink& Datalink() const { return *m_datalink; }

    // Register reads (code 3 for holding registers, 4 for input registers).
    boost::future<unsigned short> ReadRegister(RegisterKind kind, unsigned short address);
    boost::future<unsigned short> ReadInputRegister(unsigned short address);
    boost::future<unsigned short> ReadHoldingRegister(unsigned short address);
    // n = 0 sends nothing and gives a ready, empty vector.
    boost::future<std::vector<unsigned short>>
    ReadRegistersUInt16(RegisterKind kind, unsigned short start, unsigned short n);
    boost::future<std::vector<short>>
    ReadRegistersInt16(RegisterKind kind, unsigned short start, unsigned short n);
    // n floats, 2n registers.
    boost::future<std::vector<float>>
    ReadRegistersFloat(RegisterKind kind, unsigned short start, unsigned short n);
    // n UINT32s, 2n registers.
    boost::future<std::vector<unsigned int>>
    ReadRegistersUInt32(RegisterKind kind, unsigned short start, unsigned short n);
    boost::future<float> ReadFloat(RegisterKind kind, unsigned short address);
    // (nBytes + 1) / 2 registers, returned as raw bytes.
    boost::future<ByteVec> ReadRegistersAsData(RegisterKind kind, unsigned short start,
                                               unsigned short nBytes);
    // (nBytes + 1) / 2 registers; the text up to the first zero byte (all of it if none).
    boost::future<std::string> ReadRegistersAsString(RegisterKind kind, unsigned short start,
                                                     unsigned short nBytes);

    // Bit reads: coils (code 1) when isCoil, else discrete inputs (code 2). n = 0 or n > 2000
    // sends nothing and gives a future holding Modbus::Error.
    boost::future<std::vector<bool>> ReadBits(bool isCoil, unsigned short start, unsigned short n);
    boost::future<bool> ReadBit(bool isCoil, unsigned short address);

    // Single-register writes (code 6) and the coil write (code 5).
    boost::future<void> WriteRegisterInt16(unsigned short address, short value);
    boost::future<void> WriteRegisterUInt16(unsigned short address, unsigned short value);
    boost::future<void> WriteCoil(unsigned short address, bool value);

    // Multiple-register writes (code 16). WriteRegistersAsData throws Modbus::Error for an odd
    // length; more than 246 bytes throws ExceptionWithString.
    boost::future<void> WriteRegistersAsData(unsigned short start, const ByteVec& bytes);
    boost::future<void> WriteFloat(unsigned short address, float value);
    boost::future<void> WriteUInt32(unsigned short address, unsigned int value);
    // The first maxLen bytes of text (maxLen 0: all of it), zero-padded to an even count.
    boost::future<void> WriteRegistersString(unsigned short start, const std::string& text,
                                             unsigned maxLen);

    // Vendor command (function code 100): sub-command and at most 249 argument bytes; the result
    // is the reply payload. A failed sub-command arrives as a Modbus exception reply (kind 2).
    boost::future<ByteVec> SendQelCommand(unsigned short subCommand, const ByteVec& args = ByteVec());

    // The request data of function code 16: start, register count, byte count, bytes.
    // Throws ExceptionWithString for an odd length or more than 246 bytes.
    static ByteVec WriteRegistersData(unsigned short start, const ByteVec& bytes);

private:
    // Drops expired handles and returns a fresh one for SendRequest to fill.
    ModbusMasterDatalink::RequestHandle* NewHandle();

    template <typename T>
    boost::future<T> Send(unsigned char functionCode, const ByteVec& data,
                          const boost::function<T(const ByteVec&)>& parseReply);

    ModbusMasterDatalink* m_datalink;
    std::list<ModbusMasterDatalink::RequestHandle> m_outstanding;
};
