#include "simulator/DEDOCardSimulator.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <boost/chrono/system_clocks.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include "simulator/ModbusSlaveConstants.h"
#include "simulator/VendorCommandFrame.h"

namespace {

const unsigned numPointsPerDirection = 24;
const std::uint32_t liveTickMs = 50;
// Samples in the reply after a gap: the marker plus the latest 31 (the count byte says 32).
const std::uint32_t liveSamplesAfterGap = 31;
const std::size_t noteChunk = 249;

const char configText[] = "Card simulation with Modbus address of 1";

void AppendUInt32(ByteVec& out, std::uint32_t value)
{
    out.push_back(static_cast<unsigned char>(value >> 24));
    out.push_back(static_cast<unsigned char>(value >> 16));
    out.push_back(static_cast<unsigned char>(value >> 8));
    out.push_back(static_cast<unsigned char>(value));
}

void AppendFloat(ByteVec& out, float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    AppendUInt32(out, bits);
}

ByteVec PaddedText(const std::string& text, std::size_t size)
{
    ByteVec bytes(text.begin(), text.begin() + std::min(text.size(), size));
    bytes.resize(size, 0);
    return bytes;
}

unsigned NoteIndexArgument(const ByteVec& arguments)
{
    return (static_cast<unsigned>(arguments[0]) << 8) | arguments[1];
}

std::uint64_t MonotonicMs()
{
    // CLOCK_MONOTONIC: counts from system start.
    return static_cast<std::uint64_t>(
        boost::chrono::duration_cast<boost::chrono::milliseconds>(
            boost::chrono::steady_clock::now().time_since_epoch())
            .count());
}

} // namespace

struct DEDOCardSimulator::SharedStores
{
    boost::mutex mutex;
    std::vector<unsigned char> notes = std::vector<unsigned char>(notesStoreSize, 0);
    NoteCursor readCursor;
    NoteCursor writeCursor;
    std::map<std::pair<bool, unsigned>, std::uint32_t> lastLiveTick;
};

DEDOCardSimulator::SharedStores& DEDOCardSimulator::Shared()
{
    static SharedStores stores;
    return stores;
}

void DEDOCardSimulator::ResetSharedStores()
{
    SharedStores& stores = Shared();
    boost::lock_guard<boost::mutex> guard(stores.mutex);
    std::fill(stores.notes.begin(), stores.notes.end(), 0);
    stores.readCursor = NoteCursor();
    stores.writeCursor = NoteCursor();
    stores.lastLiveTick.clear();
}

void DEDOCardSimulator::ClearNoteStore()
{
    SharedStores& stores = Shared();
    boost::lock_guard<boost::mutex> guard(stores.mutex);
    std::fill(stores.notes.begin(), stores.notes.end(), 0);
    stores.readCursor = NoteCursor();
    stores.writeCursor = NoteCursor();
}

DEDOCardSimulator::DEDOCardSimulator()
    : m_clock(&MonotonicMs), m_notes(Shared().notes), m_readCursor(Shared().readCursor),
      m_writeCursor(Shared().writeCursor), m_lastLiveTick(Shared().lastLiveTick)
{
    FillTables();
}

const std::vector<DEDOCardSimulator::ScalingProfile>& DEDOCardSimulator::ScalingProfileCatalogue()
{
    static const std::vector<ScalingProfile> catalogue = {
        {0, "Voltage 0-10V <-> 0-100%", "C26", 0},
        {2, "Voltage 0-10V <-> lower-upper", "C", 0},
        {4, "Voltage 2-10V <-> 0-100%", "C26", 0},
        {6, "Voltage 2-10V <-> lower-upper", "C", 0},
        {8, "Voltage 0-5V <-> 0-100%", "C26", 0},
        {10, "Voltage 0-5V <-> lower-upper", "C", 0},
        {12, "Current 0-20mA <-> 0-100%", "C26", 1},
        {14, "Current 0-20mA <-> lower-upper", "C", 1},
        {16, "Current 4-20mA <-> 0-100%", "C26", 1},
        {18, "Current 4-20mA <-> lower-upper", "C", 1},
        {20, "Voltage in Volts", "C27", 0},
        {22, "Current in milliAmps", "C27", 1},
        {24, "Resistance in Ohms - HIGH", "B21", 3},
        {26, "Resistance in Ohms - LOW", "B", 2},
        {28, "10K Potentiometer (HIGH)", "B26", 3},
        {30, "100K Potentiometer (HIGH)", "B27", 3},
        {34, "Thermistor 1.8K LOW", "C26", 2},
        {35, "Thermistor 1.8K HIGH", "C26", 3},
        {36, "Thermistor 2.2K3A1 LOW", "C26", 2},
        {37, "Thermistor 2.2K3A1 HIGH", "C26", 3},
        {38, "Thermistor 3K3A1 LOW", "C26", 2},
        {39, "Thermistor 3K3A1 HIGH", "C26", 3},
        {40, "Thermistor 5K3A1 LOW", "C26", 2},
        {41, "Thermistor 5K3A1 HIGH", "C26", 3},
        {42, "Thermistor 10K4A1 LOW", "C26", 2},
        {43, "Thermistor 10K4A1 HIGH", "C26", 3},
        {44, "Thermistor 10K3A1 LOW", "C26", 2},
        {45, "Thermistor 10K3A1 HIGH", "C26", 3},
        {46, "Thermistor 20K6A1 LOW", "C26", 2},
        {47, "Thermistor 20K6A1 HIGH", "C26", 3},
        {48, "Thermistor 30K6A1 LOW", "C26", 2},
        {49, "Thermistor 30K6A1 HIGH", "C26", 3},
        {50, "Thermistor 50K6A1 LOW", "C26", 2},
        {51, "Thermistor 50K6A1 HIGH", "C26", 3},
        {52, "Thermistor 100K6A1 LOW", "C26", 2},
        {53, "Thermistor 100K6A1 HIGH", "C26", 3},
        {54, "Thermistor Landis & Gyr LOW", "C26", 2},
        {55, "Thermistor Landis & Gyr HIGH", "C26", 3},
        {56, "Thermistor Ni1000/TK5000 LOW", "C26", 2},
        {57, "Thermistor Ni1000/TK5000 HIGH", "C26", 3},
        {58, "Thermistor 500 Ohm Balco LOW", "C26", 2},
        {59, "Thermistor 500 Ohm Balco HIGH", "C26", 3},
        {60, "Thermistor PT1000 RTD LOW", "C26", 2},
        {61, "Thermistor PT1000 RTD HIGH", "C26", 3},
        {62, "Thermistor Satchwell T LOW", "C26", 2},
        {63, "Thermistor Satchwell T HIGH", "C26", 3},
        {64, "Thermistor Satchwell DW LOW", "C26", 2},
        {65, "Thermistor Satchwell DW HIGH", "C26", 3},
        {66, "Thermistor Satchwell DD/DR LOW", "C26", 2},
        {67, "Thermistor Satchwell DD/DR HIGH", "C26", 3},
        {68, "Thermistor Satchwell DO LOW", "C26", 2},
        {69, "Thermistor Satchwell DO HIGH", "C26", 3},
        {70, "Pt100 => 0-100C using QRTWMA", "C26", 0},
        {72, "Pt100 => 0-200C using QRTWMB", "C26", 0},
        {74, "Pt100 => 0-500C using QRTWMC", "C26", 0},
        {76, "Pt100 => -50- 50C using QRTWMD", "C26", 0},
        {78, "PTC Staefa T1 using QRTZ", "C26", 0},
    };
    return catalogue;
}

float DEDOCardSimulator::LiveSample(std::uint32_t tick)
{
    const double pi = 3.14159265358979323846;
    const double t = static_cast<double>(tick) * liveTickMs;
    return static_cast<float>(5.0 + 5.0 * std::sin(2 * pi * t / 10000.0) +
                              0.5 * std::sin(2 * pi * t / 250.0));
}

void DEDOCardSimulator::FillTables()
{
    // Identity: firmware 1.234, hardware revision 1, 24 V board, card type 4, calibrated,
    // register-map version 9.
    const std::pair<std::uint16_t, std::uint16_t> identity[] = {
        {901, 1},     {902, 234}, {903, 1}, {904, 24000}, {905, 15000}, {906, 10000},
        {907, 60536}, {909, 1},   {910, 4}, {911, 1},     {65433, 9},
    };
    RegisterMap& input = InputRegisters();
    RegisterMap& holding = HoldingRegisters();
    for (const auto& entry : identity)
        input[entry.first] = ByteVec{static_cast<unsigned char>(entry.second >> 8),
                                     static_cast<unsigned char>(entry.second)};
    DiscreteInputs()[908] = true;
    Coils()[912] = true;

    const ByteVec fourZeros(4, 0), twoZeros(2, 0);
    for (unsigned i = 0; i < numPointsPerDirection; ++i) {
        holding[static_cast<std::uint16_t>(9200 + i)] =
            PaddedText("Input " + std::to_string(i + 1), 40);
        holding[static_cast<std::uint16_t>(9250 + i)] =
            PaddedText("Output " + std::to_string(i + 1), 40);
        for (unsigned base : {9000u, 9300u, 9350u, 9400u, 9450u})
            holding[static_cast<std::uint16_t>(base + i)] = fourZeros;
        for (unsigned base : {9100u, 9150u})
            holding[static_cast<std::uint16_t>(base + i)] = twoZeros;
    }

    for (const ScalingProfile& profile : ScalingProfileCatalogue()) {
        if (profile.inputKind != 0 && profile.inputKind != 3)
            continue;
        input[static_cast<std::uint16_t>(9600 + profile.id)] = PaddedText(profile.name, 32);
        input[static_cast<std::uint16_t>(9800 + profile.id)] = PaddedText(profile.code, 8);
    }
}

void DEDOCardSimulator::SetClock(const Clock& clock)
{
    auto lock = LockState();
    m_clock = clock;
}

std::uint64_t DEDOCardSimulator::NowMs() const
{
    return m_clock();
}

int DEDOCardSimulator::HandleRequest(unsigned char functionCode, const ByteVec& requestData,
                                     ByteVec& replyData)
{
    if (functionCode != VendorCommandFrame::functionCode)
        return RememberingSimulator::HandleRequest(functionCode, requestData, replyData);

    std::uint16_t subCommand;
    ByteVec arguments;
    if (!VendorCommandFrame::ParseRequest(requestData, subCommand, arguments))
        return illegalDataValue;
    ByteVec payload;
    const int result = HandleVendorCommand(subCommand, arguments, payload);
    if (result != 0)
        return result;
    if (!VendorCommandFrame::BuildReply(subCommand, payload, replyData))
        return 4; // device failure: the answer does not fit in a frame
    return 0;
}

int DEDOCardSimulator::HandleVendorCommand(std::uint16_t subCommand, const ByteVec& arguments,
                                           ByteVec& payload)
{
    boost::lock_guard<boost::mutex> sharedGuard(Shared().mutex);
    switch (subCommand) {
    case 9:
        return 0;
    case 11:
        return SelectNoteForReading(arguments);
    case 12:
        return ReadNoteChunk(arguments, payload);
    case 13:
        return StartNoteWrite(arguments);
    case 14:
        return WriteNoteChunk(arguments);
    case 16:
        return GetLiveData(arguments, payload);
    case 19:
        return ReadNamedVariable(arguments, payload);
    case 21:
        return GetTrafficLogChunk(arguments, payload);
    case 22:
        payload.assign(configText, configText + sizeof configText - 1);
        return 0;
    default:
        return illegalFunction;
    }
}

// A select with an index past the last note is refused and leaves the cursor exactly as it
// was, so no later chunk can reach outside the store.
int DEDOCardSimulator::SelectNoteForReading(const ByteVec& arguments)
{
    if (arguments.size() != 2)
        return illegalDataValue;
    const unsigned index = NoteIndexArgument(arguments);
    if (index >= numNotes)
        return illegalDataValue;
    m_readCursor.index = index;
    m_readCursor.position = 0;
    return 0;
}

int DEDOCardSimulator::ReadNoteChunk(const ByteVec& arguments, ByteVec& payload)
{
    if (!arguments.empty())
        return illegalDataValue;
    NoteCursor& cursor = m_readCursor;
    if (cursor.position < 0 || cursor.position >= static_cast<int>(noteSize) ||
        cursor.index >= numNotes)
        return 0;
    const std::size_t position = static_cast<std::size_t>(cursor.position);
    const std::size_t remaining = noteSize - position;
    bool close = remaining < noteChunk;
    const std::size_t taken = close ? remaining : noteChunk;
    const unsigned char* chunk = &m_notes[cursor.index * noteSize + position];
    const unsigned char* end =
        std::find_if(chunk, chunk + taken, [](unsigned char c) { return c == 0x00 || c == 0xFF; });
    if (end != chunk + taken)
        close = true;
    payload.assign(chunk, end);
    if (close)
        cursor.position = -1;
    else
        cursor.position += static_cast<int>(taken);
    return 0;
}

int DEDOCardSimulator::StartNoteWrite(const ByteVec& arguments)
{
    if (arguments.size() != 2)
        return illegalDataValue;
    const unsigned index = NoteIndexArgument(arguments);
    if (index >= numNotes)
        return illegalDataValue;
    m_writeCursor.index = index;
    m_writeCursor.position = 0;
    return 0;
}

int DEDOCardSimulator::WriteNoteChunk(const ByteVec& arguments)
{
    NoteCursor& cursor = m_writeCursor;
    if (cursor.position < 0 || cursor.index >= numNotes ||
        cursor.position + arguments.size() > noteSize || arguments.size() > noteChunk)
        return illegalDataValue;
    const std::size_t offset = cursor.index * noteSize + static_cast<std::size_t>(cursor.position);
    if (arguments.empty()) {
        // The end of the text: a note written as nothing but this is an empty note, not the
        // old one left standing.
        if (cursor.position < static_cast<int>(noteSize))
            m_notes[offset] = 0;
        cursor.position = -1;
        return 0;
    }
    std::copy(arguments.begin(), arguments.end(), m_notes.begin() + offset);
    cursor.position += static_cast<int>(arguments.size());
    // Terminated unless the text fills the note to its last byte.
    if (cursor.position < static_cast<int>(noteSize))
        m_notes[offset + arguments.size()] = 0;
    return 0;
}

// Samples are due for every 50 ms tick since the last one delivered for the point. More than
// 32 due (or a first request) gives the gap marker (a NaN) and the latest 31; none due gives an
// empty list rather than repeating samples already delivered.
int DEDOCardSimulator::GetLiveData(const ByteVec& arguments, ByteVec& payload)
{
    if (arguments.size() != 2)
        return illegalDataValue;
    const auto key = std::make_pair(arguments[0] != 0, static_cast<unsigned>(arguments[1]));
    const std::uint32_t now = static_cast<std::uint32_t>(NowMs() / liveTickMs);
    std::uint32_t& last = m_lastLiveTick[key];
    if (last != 0 && now == last) {
        payload.push_back(0);
        return 0;
    }
    const std::uint32_t next = last + 1;
    const std::uint32_t due = now - next;
    std::uint32_t first;
    if (due > 31) {
        payload.push_back(static_cast<unsigned char>(liveSamplesAfterGap + 1));
        AppendUInt32(payload, 0xFFFFFFFFu);
        first = now - (liveSamplesAfterGap - 1);
    } else {
        payload.push_back(static_cast<unsigned char>(due + 1));
        first = next;
    }
    for (std::uint32_t tick = first;; ++tick) {
        AppendFloat(payload, LiveSample(tick));
        if (tick == now)
            break;
    }
    last = now;
    return 0;
}

// A name matches when the argument is the whole name, optionally followed by its terminating
// zero byte; a mere prefix of a name does not.
int DEDOCardSimulator::ReadNamedVariable(const ByteVec& arguments, ByteVec& payload)
{
    auto matches = [&arguments](const char* name) {
        const std::size_t length = std::strlen(name);
        if (arguments.size() < length ||
            !std::equal(arguments.begin(), arguments.begin() + length,
                        reinterpret_cast<const unsigned char*>(name)))
            return false;
        return arguments.size() == length || arguments[length] == 0;
    };
    if (matches("LiveDataSampleIntervalMsecs")) {
        payload.push_back(1);
        AppendFloat(payload, 50.0f);
    } else if (matches("HistoricalDataSampleIntervalMsecs")) {
        payload.push_back(1);
        AppendFloat(payload, 900000.0f);
    } else if (matches("SecondsSinceReset")) {
        payload.push_back(3);
        AppendUInt32(payload, static_cast<std::uint32_t>(NowMs() / 1000));
    } else {
        return illegalDataAddress;
    }
    return 0;
}

// One received frame (01 04 00 00 00) stamped with the card's 40-bit time in 16 us units.
int DEDOCardSimulator::GetTrafficLogChunk(const ByteVec& arguments, ByteVec& payload)
{
    if (arguments.size() != 1 || arguments[0] != 1)
        return 0;
    const std::uint64_t units = NowMs() * 1000 / 16;
    payload = {2,
               static_cast<unsigned char>(units),
               static_cast<unsigned char>(units >> 8),
               static_cast<unsigned char>(units >> 16),
               static_cast<unsigned char>(units >> 24),
               static_cast<unsigned char>(units >> 32),
               5,
               0x01,
               0x04,
               0x00,
               0x00,
               0x00};
    return 0;
}
