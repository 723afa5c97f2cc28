#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <boost/thread/future.hpp>
#include <boost/thread/mutex.hpp>

#include "async/FutureThen.h"
#include "async/ScopedAsyncCalls.h"
#include "comms/ByteVec.h"
#include "modbus/ModbusMaster.h"
#include "protocol/CPackedVal.h"
#include "protocol/CardParameter.h"
#include "protocol/TolvarenTypes.h"

// The one place that knows how a Tolvaren card lays out its features on the wire: the register
// map, the vendor command set (function 100) and which firmware has what. Build one on the shared
// datalink for one user action, one gathering or one window; the datalink must outlive it.
//
// Operations return futures unless marked blocking. Single accesses return the Modbus layer's
// future directly, or with a short inline continuation that converts the reply as it arrives (no
// thread of its own); operations that need several accesses, or that must first learn the card
// type or register-map version, run as one call on a worker thread of this object, waiting for
// each access in turn.
//
// Threads: an instance is driven from one thread at a time (the user-interface thread, or the
// gatherer's worker). Its workers and continuations run on threads of its own scopes; requests
// complete on the datalink's threads. The destructor joins every worker and continuation (they
// run to their end), then cancels single accesses that nobody waited for (broken promise).
// Errors arrive in the futures with their exact types (Modbus::Error and subclasses,
// Tolvaren::FirmwareTooOldError, ExceptionWithString).
class TolvarenCommsCommon
{
public:
    // Card-wide items.
    static const std::uint16_t regSerialNumber = 900;            // input register
    static const std::uint16_t regFirmwareMajor = 901;           // input register
    static const std::uint16_t regFirmwareMinor = 902;           // input register
    static const std::uint16_t regHardwareRevision = 903;        // input register
    static const std::uint16_t regBoardMillivolts = 904;         // input register
    static const std::uint16_t regControllerAddress = 909;       // input register
    static const std::uint16_t regCardType = 910;                // input register, 1..5
    static const std::uint16_t regCalibrated = 911;              // input register, 1 = calibrated
    static const std::uint16_t regRegisterVersion = 65433;       // input register
    static const std::uint16_t regSetSerialNumber = 65432;       // holding register, function 6
    static const std::uint16_t regCommsDogBusOffDelay = 590;     // holding register, seconds
    static const std::uint16_t regCommsDogOutputsOffDelay = 591; // holding register, seconds
    static const std::uint16_t bitCommsDogTriggered = 590;       // discrete input
    static const std::uint16_t bitHealthy = 908;                 // discrete input, 1 healthy
    static const std::uint16_t bitResetOccurred = 912;           // coil, written 0 to clear

    // Per-point blocks (base + index; "rule" blocks move outputs by 50 from version 4 on).
    static const std::uint16_t baseValue = 9000;               // fixed; float
    static const std::uint16_t baseScalingProfile = 9100;      // rule; uint16
    static const std::uint16_t baseLabel = 9200;               // rule; 40-byte string
    static const std::uint16_t baseOverride = 9300;            // rule (outputs); float and coil
    static const std::uint16_t baseOffset = 9400;              // rule; float
    static const std::uint16_t basePartNumber = 9500;          // rule; 15-byte string
    static const std::uint16_t baseUpperLimit = 100;           // rule; int16
    static const std::uint16_t baseLowerLimit = 600;           // rule; int16
    static const std::uint16_t baseCalibrationDate = 65100;    // rule; 4-byte date
    static const std::uint16_t baseLongTermHighTime = 65200;   // fixed, inputs; uint32
    static const std::uint16_t baseLongTermLowTime = 65250;    // fixed, inputs; uint32
    static const std::uint16_t baseLongTermPulseCount = 65300; // fixed, inputs; uint32
    static const std::uint16_t baseRawValue = 65400;           // fixed; uint16
    static const std::uint16_t baseProfileName = 9600;         // input registers; 32-byte string
    static const std::uint16_t baseProfileCode = 9800;         // input registers; 8-byte string
    static const unsigned outputRuleShift = 50;

    static const unsigned labelLength = 40;
    static const unsigned partNumberLength = 15;
    static const unsigned profileNameLength = 32;
    static const unsigned profileCodeLength = 8;
    static const unsigned notePieceLength = 128;

    // The vendor sub-commands.
    enum QelCommand : std::uint16_t {
        QEL_READ_CONFIG_START = 1,
        QEL_READ_CONFIG_NEXT = 2,
        QEL_WRITE_CONFIG_START = 3,
        QEL_WRITE_CONFIG_NEXT = 4,
        QEL_READ_CALIBRATION = 5,
        QEL_CALIBRATION_STORE = 6,
        QEL_WRITE_CALIBRATION = 7,
        QEL_GET_BUILD_DATE = 8,
        QEL_GET_PARAMETER_DEFN = 9,
        QEL_GET_PARAMETER_ENUM_DEFN = 10,
        QEL_READ_NOTE_START = 11,
        QEL_READ_NOTE_NEXT = 12,
        QEL_WRITE_NOTE_START = 13,
        QEL_WRITE_NOTE_NEXT = 14,
        QEL_CLEAR_NOTES = 15,
        QEL_GET_LIVE_DATA = 16,
        QEL_GET_HISTORICAL_DATA = 17,
        QEL_CLEAR_HISTORICAL_DATA = 18,
        QEL_READ_NAMED_VAR = 19,
        QEL_WRITE_NAMED_VAR = 20,
        QEL_GET_TRAFFIC_LOG = 21,
        QEL_GET_CONFIG_TEXT = 22,
        QEL_EE_READ = 23,
        QEL_EE_WRITE = 24,
        QEL_RESTART = 25,
    };

    explicit TolvarenCommsCommon(ModbusMasterDatalink& datalink);
    virtual ~TolvarenCommsCommon();
    TolvarenCommsCommon(const TolvarenCommsCommon&) = delete;
    TolvarenCommsCommon& operator=(const TolvarenCommsCommon&) = delete;

    // For the few single accesses this class does not wrap. The function layer has no lock of
    // its own: while operations of this instance may still be running, hold LockMaster() around
    // the call that issues the request (not while waiting for it).
    ModbusMaster master;
    boost::unique_lock<boost::mutex> LockMaster() const;

    // ---- Identity and version gating -------------------------------------------------------
    // Register-map version, read once per instance (a card answering 0 is asked again).
    boost::future<std::uint16_t> GetRegisterVersion();
    // 1..5; anything else fails with Modbus::Error "Invalid card type returned".
    boost::future<int> GetCardType(bool useCached);
    // Fixed by the card type; types other than 1..4 fail with "Invalid card type".
    boost::future<unsigned> GetNumInputs();
    boost::future<unsigned> GetNumOutputs();
    unsigned GetNumPoints(Tolvaren::IoDirection dir); // blocking
    // "major.minor", the minor part with a leading 0 below 10 (1.05, 2.10, 1.123).
    boost::future<std::string> GetFirmwareVersionString();
    boost::future<float> GetBoardVoltage(); // volts
    boost::future<std::string> GetSoftwareBuildDate();
    boost::future<std::string> GetConfigText();
    boost::future<ByteVec> GetTrafficLogChunk(bool continuation);
    // Function 3 when holding, else 4.
    boost::future<std::uint16_t> ReadSingleRegister(bool holding, std::uint16_t address);
    // A coil when isCoil, else a discrete input.
    boost::future<bool> ReadSingleBit(bool isCoil, std::uint16_t address);
    boost::future<void> WriteSingleRegister(std::uint16_t address, std::uint16_t value);
    boost::future<void> WriteSingleCoil(std::uint16_t address, bool value);
    // Blocking; a reply of other than length bytes fails with Modbus::Error.
    ByteVec ReadEe(std::uint32_t address, std::uint8_t length);

    // ---- Calibration storage ---------------------------------------------------------------
    boost::future<std::vector<float>> ReadCalibrationBlock(std::uint8_t block);
    boost::future<void> BeginCalibrationWrite();
    boost::future<void> WriteCalibrationBlock(std::uint8_t block, const void* data,
                                              std::size_t length);
    boost::future<void> EndCalibrationWrite();

    // ---- Scaling profile catalogue ---------------------------------------------------------
    // 0xFFFF is "Digital" at once, without a request.
    boost::future<std::string> GetScalingProfileName(unsigned profileId);
    boost::future<std::string> GetScalingProfileCode(unsigned profileId);

    // ---- Single points ---------------------------------------------------------------------
    boost::future<std::string> GetLabel(Tolvaren::IoDirection dir, unsigned index);
    boost::future<void> SetLabel(Tolvaren::IoDirection dir, unsigned index,
                                 const std::string& text);
    boost::future<std::string> GetPartNumber(Tolvaren::IoDirection dir, unsigned index);
    boost::future<void> SetPartNumber(Tolvaren::IoDirection dir, unsigned index,
                                      const std::string& text);
    boost::future<Tolvaren::Date> GetCalibrationDate(Tolvaren::IoDirection dir, unsigned index);
    boost::future<void> SetCalibrationDate(Tolvaren::IoDirection dir, unsigned index,
                                           const Tolvaren::Date& date);
    boost::future<void> SetScalingProfile(Tolvaren::IoDirection dir, unsigned index,
                                          unsigned profileId);
    boost::future<void> SetLowerLimit(Tolvaren::IoDirection dir, unsigned index, short value);
    boost::future<void> SetUpperLimit(Tolvaren::IoDirection dir, unsigned index, short value);
    // Written without a version read: 9400 + index for inputs, 9450 + index for outputs.
    boost::future<void> SetOffset(Tolvaren::IoDirection dir, unsigned index, float value);
    boost::future<void> SetOutputValue(unsigned index, float value);
    boost::future<void> SetOverrideValue(unsigned index, float value);
    boost::future<void> SetOverrideActive(unsigned index, bool active);
    // Inputs only. An index of 50 or more throws "ResetLongTermStats: invalid ioPoint" at once.
    boost::future<void> ResetLongTermStats(unsigned index);
    boost::future<bool> AreIoPointNotesSupported();
    // Empty when the card has no notes.
    boost::future<std::string> GetIoNote(Tolvaren::IoDirection dir, unsigned index);
    // Callers check AreIoPointNotesSupported first. A full note store fails with Modbus::Error
    // "not enough room for an IO note" (exception reply, code 3).
    boost::future<void> SetIoNote(Tolvaren::IoDirection dir, unsigned index,
                                  const std::string& text);
    // The card keeps the notes of all points in one store, inputs first.
    unsigned NoteIndex(Tolvaren::IoDirection dir, unsigned index); // blocking

    // ---- Bulk reads, all points of a direction ---------------------------------------------
    boost::future<std::vector<float>> GetValues(Tolvaren::IoDirection dir);
    boost::future<std::vector<float>> GetOffsets(Tolvaren::IoDirection dir);
    boost::future<std::vector<unsigned short>> GetScalingProfileIds(Tolvaren::IoDirection dir);
    boost::future<std::vector<short>> GetLowerLimits(Tolvaren::IoDirection dir);
    boost::future<std::vector<short>> GetUpperLimits(Tolvaren::IoDirection dir);
    boost::future<std::vector<unsigned short>> GetRawValues(Tolvaren::IoDirection dir);
    boost::future<std::vector<float>> GetOverrideValues();
    // Fails for a card without outputs (the function layer refuses to read no bits).
    boost::future<std::vector<bool>> GetOverrideActiveFlags();
    boost::future<std::vector<unsigned>> GetLongTermLowTimes();
    boost::future<std::vector<unsigned>> GetLongTermHighTimes();
    boost::future<std::vector<unsigned>> GetLongTermPulseCounts();

    // ---- Card-wide settings ----------------------------------------------------------------
    boost::future<void> SetCommsDogBusOffDelay(std::uint16_t seconds); // 0 disables
    boost::future<void> SetCommsDogOutputsOffDelay(std::uint16_t seconds);
    boost::future<void> SetSoftDogMinutes(float minutes);
    boost::future<void> SetSafeValue(unsigned outputIndex, float value);
    boost::future<void> ClearResetOccurred();
    boost::future<void> ClearHistoricalData(Tolvaren::IoDirection dir, unsigned index);
    // Blocking loops over every point, each request waited for in turn.
    void ClearAllOverrides();
    void SetAllPointsDigital(Tolvaren::IoDirection dir, bool digital);
    void ClearAllEightDayData();

    // ---- Live and 8-day data ---------------------------------------------------------------
    // The card's recent samples of one point. A reply too short for its count is the tool's own
    // request heard back on the bus: it fails with Modbus::TimeoutError, like a missing reply.
    boost::future<std::vector<float>> GetLiveData(Tolvaren::IoDirection dir, unsigned index);
    // The next piece of the point's 8-day data from sample firstSample on (oldest is 0); empty
    // when there are no more samples.
    boost::future<std::vector<float>> GetHistoricalData(Tolvaren::IoDirection dir, unsigned index,
                                                        unsigned firstSample);
    // Payload of sub-commands 16 and 17: count byte n, then n big-endian floats. An empty
    // payload throws Modbus::ReplyTooShortError "reply zero length (invalid request?)", fewer
    // bytes than 4n "reply not long enough yet", more Modbus::Error "reply too long".
    static std::vector<float> ParseSamples(const ByteVec& payload);

    // ---- Parameters and named variables ----------------------------------------------------
    boost::future<CardParamsVec> GetParameterDefinitions();
    bool AreCardParamsSupported(); // blocking
    boost::future<CPackedVal> ReadNamedVariable(const std::string& name);
    boost::future<float> ReadNamedVariableAsFloat(const std::string& name);
    boost::future<void> WriteNamedVariable(const std::string& name, const CPackedVal& value);

    // ---- Configuration image (see CardConfigImage) ------------------------------------------
    // The card's image, format version 3.
    boost::future<ByteVec> GetCardConfig();
    // Checks the whole image (framing, card type, Control Module block, notes) before anything
    // is written, then writes the configuration data, the block and the notes and asks the card
    // to restart. A failure once writing has begun leaves the card partly written.
    boost::future<void> SetCardConfig(const ByteVec& image);

    // Blocking vendor command: the reply payload.
    ByteVec SendQelCommandAndWait(std::uint16_t subCommand, const ByteVec& args = ByteVec());

private:
    // The gatherer waits for every operation on its own worker thread anyway, so it uses the
    // blocking forms of multi-request operations directly instead of a thread per operation.
    friend class TolvarenSnapshotGatherer;

    // Blocking forms, for use on this object's workers (or by blocking operations).
    std::uint16_t RegisterVersionNow();
    int CardTypeNow(bool useCached);
    unsigned NumPointsNow(Tolvaren::IoDirection dir);
    std::uint16_t Address(std::uint16_t base, Tolvaren::IoDirection dir, unsigned index);
    bool NotesSupportedNow();
    CPackedVal ReadNamedVariableNow(const std::string& name);
    std::string IoNoteNow(Tolvaren::IoDirection dir, unsigned index);
    void IoNoteWriteNow(Tolvaren::IoDirection dir, unsigned index, const std::string& text);
    ByteVec CardConfigNow();
    void SetCardConfigNow(const ByteVec& image);
    ByteVec ControlModuleBlockNow();
    void WriteControlModuleBlockNow(const ByteVec& block);
    // Decoders of single replies, shared by the blocking forms and the inline continuations.
    static bool NotesProbeAnswer(boost::future<ByteVec>& probe);
    static CPackedVal NamedVariableFromReply(std::uint16_t version, const ByteVec& reply);

    // A read that issues one request once the card type (needsType) and the register-map version
    // (needsVersion) are known. When they are cached it is issued at once and the function
    // layer's future is returned as it is; otherwise it runs on a worker, which learns them
    // first. Writes always run on a worker, so that they complete even if nobody waits.
    template <class T, class Issue>
    boost::future<T> ReadWhenKnown(bool needsType, bool needsVersion, Issue issue);

    int AcceptCardType(unsigned short value);
    // The vendor command's future, sent under the master lock.
    boost::future<ByteVec> Qel(std::uint16_t subCommand, const ByteVec& args = ByteVec());
    boost::future<void> QelIgnoringReply(std::uint16_t subCommand, const ByteVec& args);

    mutable boost::mutex m_masterMutex;
    std::atomic<int> m_cachedCardType{0};
    std::atomic<std::uint16_t> m_cachedRegisterVersion{0};
    FutureThen m_then;
    ScopedAsyncCalls m_calls;
};

template <class T, class Issue>
boost::future<T> TolvarenCommsCommon::ReadWhenKnown(bool needsType, bool needsVersion, Issue issue)
{
    const bool known =
        (!needsType || m_cachedCardType != 0) && (!needsVersion || m_cachedRegisterVersion != 0);
    if (!known) {
        return m_calls.Call<T>([issue]() { return issue().get(); });
    }
    try {
        return issue();
    } catch (...) {
        boost::promise<T> failed;
        failed.set_exception(boost::current_exception());
        return failed.get_future();
    }
}

// Card type -> point counts. Types outside 1..4 throw ExceptionWithString "Invalid card type".
unsigned TolvarenNumInputs(int cardType);
unsigned TolvarenNumOutputs(int cardType);
// The card's model name; types outside 1..4 throw ExceptionWithString "invalid card type".
const char* TolvarenCardName(int cardType);
