// Per-point, bulk and card-wide operations of TolvarenCommsCommon.

#include "protocol/TolvarenCommsCommon.h"

#include <boost/throw_exception.hpp>

#include "modbus/ModbusErrors.h"
#include "protocol/ProtocolBytes.h"

using namespace Tolvaren;
using ProtocolBytes::U16;

namespace {

const unsigned longTermStatsPoints = 50;
const unsigned char noteStoreFull = 3;
const unsigned char illegalFunction = 1;
// A note is a few lines a person typed, sent in pieces of up to 128 bytes; a card still sending
// pieces past these limits is not answering sensibly, and the read must neither run nor grow
// without end (tiny pieces would keep the line busy long before the length limit is reached).
const std::size_t maxNoteLength = 64 * 1024;
const unsigned maxNotePieces = 1024;

} // namespace

// ---- Single points -----------------------------------------------------------------------

boost::future<std::string> TolvarenCommsCommon::GetLabel(IoDirection dir, unsigned index)
{
    return ReadWhenKnown<std::string>(false, dir == Output, [this, dir, index] {
        const std::uint16_t address = Address(baseLabel, dir, index);
        auto lock = LockMaster();
        return master.ReadRegistersAsString(ModbusMaster::HoldingRegisters, address, labelLength);
    });
}

boost::future<void> TolvarenCommsCommon::SetLabel(IoDirection dir, unsigned index,
                                                  const std::string& text)
{
    return m_calls.Call<void>([this, dir, index, text] {
        const std::uint16_t address = Address(baseLabel, dir, index);
        auto lock = LockMaster();
        auto write = master.WriteRegistersString(address, text, labelLength);
        lock.unlock();
        write.get();
    });
}

boost::future<std::string> TolvarenCommsCommon::GetPartNumber(IoDirection dir, unsigned index)
{
    return ReadWhenKnown<std::string>(false, dir == Output, [this, dir, index] {
        const std::uint16_t address = Address(basePartNumber, dir, index);
        auto lock = LockMaster();
        return master.ReadRegistersAsString(ModbusMaster::HoldingRegisters, address,
                                            partNumberLength);
    });
}

boost::future<void> TolvarenCommsCommon::SetPartNumber(IoDirection dir, unsigned index,
                                                       const std::string& text)
{
    return m_calls.Call<void>([this, dir, index, text] {
        const std::uint16_t address = Address(basePartNumber, dir, index);
        auto lock = LockMaster();
        auto write = master.WriteRegistersString(address, text, partNumberLength);
        lock.unlock();
        write.get();
    });
}

boost::future<Date> TolvarenCommsCommon::GetCalibrationDate(IoDirection dir, unsigned index)
{
    auto read = ReadWhenKnown<ByteVec>(false, dir == Output, [this, dir, index] {
        const std::uint16_t address = Address(baseCalibrationDate, dir, index);
        auto lock = LockMaster();
        return master.ReadRegistersAsData(ModbusMaster::HoldingRegisters, address, 4);
    });
    return m_then.ThenInline<Date, ByteVec>(
        std::move(read), [](boost::future<ByteVec>& f) { return Date::FromByteVec(f.get()); });
}

boost::future<void> TolvarenCommsCommon::SetCalibrationDate(IoDirection dir, unsigned index,
                                                            const Date& date)
{
    return m_calls.Call<void>([this, dir, index, date] {
        const std::uint16_t address = Address(baseCalibrationDate, dir, index);
        auto lock = LockMaster();
        auto write = master.WriteRegistersAsData(address, date.ToByteVec());
        lock.unlock();
        write.get();
    });
}

boost::future<void> TolvarenCommsCommon::SetScalingProfile(IoDirection dir, unsigned index,
                                                           unsigned profileId)
{
    return m_calls.Call<void>([this, dir, index, profileId] {
        const std::uint16_t address = Address(baseScalingProfile, dir, index);
        WriteSingleRegister(address, static_cast<std::uint16_t>(profileId & 0xFFFF)).get();
    });
}

boost::future<void> TolvarenCommsCommon::SetLowerLimit(IoDirection dir, unsigned index, short value)
{
    return m_calls.Call<void>([this, dir, index, value] {
        const std::uint16_t address = Address(baseLowerLimit, dir, index);
        WriteSingleRegister(address, static_cast<std::uint16_t>(value)).get();
    });
}

boost::future<void> TolvarenCommsCommon::SetUpperLimit(IoDirection dir, unsigned index, short value)
{
    return m_calls.Call<void>([this, dir, index, value] {
        const std::uint16_t address = Address(baseUpperLimit, dir, index);
        WriteSingleRegister(address, static_cast<std::uint16_t>(value)).get();
    });
}

boost::future<void> TolvarenCommsCommon::SetOffset(IoDirection dir, unsigned index, float value)
{
    // Offsets exist from register-map version 6 on, where outputs are always moved by 50.
    const unsigned base = baseOffset + (dir == Output ? outputRuleShift : 0);
    auto lock = LockMaster();
    return master.WriteFloat(static_cast<unsigned short>(base + index), value);
}

boost::future<void> TolvarenCommsCommon::SetOutputValue(unsigned index, float value)
{
    auto lock = LockMaster();
    return master.WriteFloat(static_cast<unsigned short>(baseValue + index), value);
}

boost::future<void> TolvarenCommsCommon::SetOverrideValue(unsigned index, float value)
{
    return m_calls.Call<void>([this, index, value] {
        const std::uint16_t address = Address(baseOverride, Output, index);
        auto lock = LockMaster();
        auto write = master.WriteFloat(address, value);
        lock.unlock();
        write.get();
    });
}

boost::future<void> TolvarenCommsCommon::SetOverrideActive(unsigned index, bool active)
{
    return m_calls.Call<void>([this, index, active] {
        const std::uint16_t address = Address(baseOverride, Output, index);
        WriteSingleCoil(address, active).get();
    });
}

boost::future<void> TolvarenCommsCommon::ResetLongTermStats(unsigned index)
{
    if (index >= longTermStatsPoints) {
        boost::throw_exception(ExceptionWithString("ResetLongTermStats: invalid ioPoint"));
    }
    return m_calls.Call<void>([this, index] {
        for (std::uint16_t base :
             {baseLongTermHighTime, baseLongTermLowTime, baseLongTermPulseCount}) {
            auto lock = LockMaster();
            auto write = master.WriteUInt32(static_cast<unsigned short>(base + index), 0);
            lock.unlock();
            write.get();
        }
    });
}

bool TolvarenCommsCommon::NotesSupportedNow()
{
    if (RegisterVersionNow() <= 5) {
        return false;
    }
    auto probe = Qel(QEL_READ_NOTE_START, U16(0));
    return NotesProbeAnswer(probe);
}

bool TolvarenCommsCommon::NotesProbeAnswer(boost::future<ByteVec>& probe)
{
    try {
        probe.get();
    } catch (const Modbus::Error& e) {
        if (e.IsExceptionReply(illegalFunction)) {
            return false;
        }
        throw;
    }
    return true;
}

boost::future<bool> TolvarenCommsCommon::AreIoPointNotesSupported()
{
    const std::uint16_t version = m_cachedRegisterVersion;
    if (version == 0) {
        return m_calls.Call<bool>([this] { return NotesSupportedNow(); });
    }
    // The version is known: at most the probe is left, one request.
    if (version <= 5) {
        return ProtocolBytes::Ready(false);
    }
    return m_then.ThenInline<bool, ByteVec>(Qel(QEL_READ_NOTE_START, U16(0)), &NotesProbeAnswer);
}

unsigned TolvarenCommsCommon::NoteIndex(IoDirection dir, unsigned index)
{
    return dir == Input ? index : NumPointsNow(Input) + index;
}

boost::future<std::string> TolvarenCommsCommon::GetIoNote(IoDirection dir, unsigned index)
{
    return m_calls.Call<std::string>([this, dir, index] { return IoNoteNow(dir, index); });
}

std::string TolvarenCommsCommon::IoNoteNow(IoDirection dir, unsigned index)
{
    std::string text;
    if (!NotesSupportedNow()) {
        return text;
    }
    Qel(QEL_READ_NOTE_START, U16(static_cast<std::uint16_t>(NoteIndex(dir, index)))).get();
    for (unsigned pieces = 1;; ++pieces) {
        const ByteVec piece = Qel(QEL_READ_NOTE_NEXT).get();
        if (piece.empty()) {
            break;
        }
        if (pieces > maxNotePieces || text.size() + piece.size() > maxNoteLength) {
            boost::throw_exception(Modbus::Error("Invalid response to QEL_READ_NOTE_NEXT"));
        }
        text.append(piece.begin(), piece.end());
    }
    return text;
}

boost::future<void> TolvarenCommsCommon::SetIoNote(IoDirection dir, unsigned index,
                                                   const std::string& text)
{
    return m_calls.Call<void>([this, dir, index, text] { IoNoteWriteNow(dir, index, text); });
}

void TolvarenCommsCommon::IoNoteWriteNow(IoDirection dir, unsigned index, const std::string& text)
{
    Qel(QEL_WRITE_NOTE_START, U16(static_cast<std::uint16_t>(NoteIndex(dir, index)))).get();
    auto sendPiece = [this](const ByteVec& piece) {
        try {
            Qel(QEL_WRITE_NOTE_NEXT, piece).get();
        } catch (const Modbus::Error& e) {
            if (e.IsExceptionReply(noteStoreFull)) {
                boost::throw_exception(Modbus::Error("not enough room for an IO note",
                                                     Modbus::ExceptionReply, noteStoreFull,
                                                     e.Reply()));
            }
            throw;
        }
    };
    for (std::size_t at = 0; at < text.size(); at += notePieceLength) {
        const std::size_t length = std::min<std::size_t>(notePieceLength, text.size() - at);
        sendPiece(ByteVec(text.begin() + at, text.begin() + at + length));
    }
    sendPiece(ByteVec());
}

// ---- Bulk reads --------------------------------------------------------------------------

boost::future<std::vector<float>> TolvarenCommsCommon::GetValues(IoDirection dir)
{
    return ReadWhenKnown<std::vector<float>>(true, false, [this, dir] {
        const unsigned n = NumPointsNow(dir);
        if (n == 0) {
            return ProtocolBytes::Ready(std::vector<float>());
        }
        auto lock = LockMaster();
        return master.ReadRegistersFloat(dir, baseValue, static_cast<unsigned short>(n));
    });
}

boost::future<std::vector<float>> TolvarenCommsCommon::GetOffsets(IoDirection dir)
{
    return ReadWhenKnown<std::vector<float>>(true, dir == Output, [this, dir] {
        const unsigned n = NumPointsNow(dir);
        if (n == 0) {
            return ProtocolBytes::Ready(std::vector<float>());
        }
        const std::uint16_t start = Address(baseOffset, dir, 0);
        auto lock = LockMaster();
        return master.ReadRegistersFloat(ModbusMaster::HoldingRegisters, start,
                                         static_cast<unsigned short>(n));
    });
}

boost::future<std::vector<unsigned short>>
TolvarenCommsCommon::GetScalingProfileIds(IoDirection dir)
{
    return ReadWhenKnown<std::vector<unsigned short>>(true, dir == Output, [this, dir] {
        const unsigned n = NumPointsNow(dir);
        if (n == 0) {
            return ProtocolBytes::Ready(std::vector<unsigned short>());
        }
        const std::uint16_t start = Address(baseScalingProfile, dir, 0);
        auto lock = LockMaster();
        return master.ReadRegistersUInt16(ModbusMaster::HoldingRegisters, start,
                                          static_cast<unsigned short>(n));
    });
}

boost::future<std::vector<short>> TolvarenCommsCommon::GetLowerLimits(IoDirection dir)
{
    return ReadWhenKnown<std::vector<short>>(true, dir == Output, [this, dir] {
        const unsigned n = NumPointsNow(dir);
        if (n == 0) {
            return ProtocolBytes::Ready(std::vector<short>());
        }
        const std::uint16_t start = Address(baseLowerLimit, dir, 0);
        auto lock = LockMaster();
        return master.ReadRegistersInt16(ModbusMaster::HoldingRegisters, start,
                                         static_cast<unsigned short>(n));
    });
}

boost::future<std::vector<short>> TolvarenCommsCommon::GetUpperLimits(IoDirection dir)
{
    return ReadWhenKnown<std::vector<short>>(true, dir == Output, [this, dir] {
        const unsigned n = NumPointsNow(dir);
        if (n == 0) {
            return ProtocolBytes::Ready(std::vector<short>());
        }
        const std::uint16_t start = Address(baseUpperLimit, dir, 0);
        auto lock = LockMaster();
        return master.ReadRegistersInt16(ModbusMaster::HoldingRegisters, start,
                                         static_cast<unsigned short>(n));
    });
}

boost::future<std::vector<unsigned short>> TolvarenCommsCommon::GetRawValues(IoDirection dir)
{
    return ReadWhenKnown<std::vector<unsigned short>>(true, false, [this, dir] {
        const unsigned n = NumPointsNow(dir);
        if (n == 0) {
            return ProtocolBytes::Ready(std::vector<unsigned short>());
        }
        auto lock = LockMaster();
        return master.ReadRegistersUInt16(dir, baseRawValue, static_cast<unsigned short>(n));
    });
}

boost::future<std::vector<float>> TolvarenCommsCommon::GetOverrideValues()
{
    return ReadWhenKnown<std::vector<float>>(true, true, [this] {
        const unsigned n = NumPointsNow(Output);
        if (n == 0) {
            return ProtocolBytes::Ready(std::vector<float>());
        }
        const std::uint16_t start = Address(baseOverride, Output, 0);
        auto lock = LockMaster();
        return master.ReadRegistersFloat(ModbusMaster::HoldingRegisters, start,
                                         static_cast<unsigned short>(n));
    });
}

boost::future<std::vector<bool>> TolvarenCommsCommon::GetOverrideActiveFlags()
{
    return ReadWhenKnown<std::vector<bool>>(true, true, [this] {
        const unsigned n = NumPointsNow(Output);
        const std::uint16_t start = Address(baseOverride, Output, 0);
        auto lock = LockMaster();
        return master.ReadBits(true, start, static_cast<unsigned short>(n));
    });
}

boost::future<std::vector<unsigned>> TolvarenCommsCommon::GetLongTermLowTimes()
{
    return ReadWhenKnown<std::vector<unsigned>>(true, false, [this] {
        const unsigned n = NumPointsNow(Input);
        auto lock = LockMaster();
        return master.ReadRegistersUInt32(ModbusMaster::HoldingRegisters, baseLongTermLowTime,
                                          static_cast<unsigned short>(n));
    });
}

boost::future<std::vector<unsigned>> TolvarenCommsCommon::GetLongTermHighTimes()
{
    return ReadWhenKnown<std::vector<unsigned>>(true, false, [this] {
        const unsigned n = NumPointsNow(Input);
        auto lock = LockMaster();
        return master.ReadRegistersUInt32(ModbusMaster::HoldingRegisters, baseLongTermHighTime,
                                          static_cast<unsigned short>(n));
    });
}

boost::future<std::vector<unsigned>> TolvarenCommsCommon::GetLongTermPulseCounts()
{
    return ReadWhenKnown<std::vector<unsigned>>(true, false, [this] {
        const unsigned n = NumPointsNow(Input);
        auto lock = LockMaster();
        return master.ReadRegistersUInt32(ModbusMaster::HoldingRegisters, baseLongTermPulseCount,
                                          static_cast<unsigned short>(n));
    });
}

// ---- Card-wide settings ------------------------------------------------------------------

boost::future<void> TolvarenCommsCommon::SetCommsDogBusOffDelay(std::uint16_t seconds)
{
    return WriteSingleRegister(regCommsDogBusOffDelay, seconds);
}

boost::future<void> TolvarenCommsCommon::SetCommsDogOutputsOffDelay(std::uint16_t seconds)
{
    return WriteSingleRegister(regCommsDogOutputsOffDelay, seconds);
}

boost::future<void> TolvarenCommsCommon::SetSoftDogMinutes(float minutes)
{
    return WriteNamedVariable("OutputsToSafeMinutes", CPackedVal::FromFloat(minutes));
}

boost::future<void> TolvarenCommsCommon::SetSafeValue(unsigned outputIndex, float value)
{
    return WriteNamedVariable("ProfiledSafeVal[" + std::to_string(outputIndex) + "]",
                              CPackedVal::FromFloat(value));
}

boost::future<void> TolvarenCommsCommon::ClearResetOccurred()
{
    return WriteSingleCoil(bitResetOccurred, false);
}

boost::future<void> TolvarenCommsCommon::ClearHistoricalData(IoDirection dir, unsigned index)
{
    // This sub-command says 0 for an input point (unlike 16 and 17).
    return QelIgnoringReply(QEL_CLEAR_HISTORICAL_DATA,
                            ByteVec{static_cast<unsigned char>(dir == Input ? 0 : 1),
                                    static_cast<unsigned char>(index)});
}

void TolvarenCommsCommon::ClearAllOverrides()
{
    const unsigned n = GetNumPoints(Output);
    for (unsigned i = 0; i < n; ++i) {
        SetOverrideActive(i, false).get();
    }
}

void TolvarenCommsCommon::SetAllPointsDigital(IoDirection dir, bool digital)
{
    const unsigned n = GetNumPoints(dir);
    for (unsigned i = 0; i < n; ++i) {
        SetScalingProfile(dir, i, digital ? 0xFFFF : 0).get();
    }
}

void TolvarenCommsCommon::ClearAllEightDayData()
{
    for (IoDirection dir : {Input, Output}) {
        const unsigned n = GetNumPoints(dir);
        for (unsigned i = 0; i < n; ++i) {
            ClearHistoricalData(dir, i).get();
        }
    }
}
