#include "simulator/FullCardSimulator.h"

#include <algorithm>
#include <cmath>

#include <boost/chrono/system_clocks.hpp>

#include "simulator/CardBytes.h"
#include "simulator/ModbusSlaveConstants.h"
#include "simulator/VendorCommandFrame.h"

namespace {

// Per-point blocks; outputs' rule-addressed blocks sit 50 above the inputs'.
const std::uint16_t baseValue = 9000;
const std::uint16_t baseProfile = 9100;
const std::uint16_t baseLabel = 9200;
const std::uint16_t baseOverride = 9300;
const std::uint16_t baseOffset = 9400;
const std::uint16_t basePartNumber = 9500;
const std::uint16_t baseUpperLimit = 100;
const std::uint16_t baseLowerLimit = 600;
const std::uint16_t baseDate = 65100;
const std::uint16_t baseHighTime = 65200;
const std::uint16_t baseLowTime = 65250;
const std::uint16_t basePulseCount = 65300;
const std::uint16_t baseRaw = 65400;
const unsigned outputShift = 50;
const std::uint16_t commsDogBusOff = 590;
const std::uint16_t commsDogOutputsOff = 591;
const unsigned partNumberBytes = 16; // 15 characters, written as whole registers

const std::uint16_t digital = SimulatedPlant::digitalProfile;

// Per-point blocks of numbers (inputs' and outputs' halves together).
struct ItemBlock
{
    unsigned base;
    unsigned count;
    std::size_t itemSize;
};
const ItemBlock itemBlocks[] = {
    {baseValue, 24, 4},      {baseProfile, 74, 2},    {baseOverride, 74, 4}, {baseOffset, 74, 4},
    {baseUpperLimit, 74, 2}, {baseLowerLimit, 74, 2}, {baseDate, 74, 4},     {baseHighTime, 50, 4},
    {baseLowTime, 50, 4},    {basePulseCount, 50, 4}, {baseRaw, 24, 2},
};

// A plant worth looking at: voltages, percentages, limits, digital points, resistances and
// temperatures on the inputs; percentages, limits, volts and digital points on the outputs.
const std::uint16_t inputProfiles[FullCardSimulator::numInputs] = {
    0,  0,  0,  0,  2,  2,  20, 20, digital, digital, digital, digital,
    24, 24, 28, 28, 43, 43, 43, 43, 70,      70,      4,       digital};
const std::uint16_t outputProfiles[FullCardSimulator::numOutputs] = {
    0,  0,  0,  0,  0,       0,       0,       0,       2,       2,       2,       2,
    20, 20, 20, 20, digital, digital, digital, digital, digital, digital, digital, digital};

// What the card's dip switches select, as the card describes them (one reply frame).
const char fullCardConfigText[] = "KTV-ROLM-73C6E (simulated), serial 1207\n"
                          "Switches 1-5: on off off off off = address 1\n"
                          "Switch 6: off = 115200 baud, 8N1\n"
                          "Switch 7: on = bus termination fitted\n"
                          "24 inputs, 24 outputs";
const char buildDate[] = "Nov 30 2026 14:05:12";

static_assert(sizeof fullCardConfigText - 1 <= VendorCommandFrame::maxPayload,
              "the configuration text fits in one reply");

bool Within(unsigned address, unsigned base, unsigned count)
{
    return address >= base && address < base + count;
}

DEDOCardSimulator::Clock MonotonicSinceNow()
{
    const auto start = boost::chrono::steady_clock::now();
    return [start] {
        return static_cast<std::uint64_t>(boost::chrono::duration_cast<boost::chrono::milliseconds>(
                                              boost::chrono::steady_clock::now() - start)
                                              .count());
    };
}

ByteVec Date(unsigned day, unsigned month, unsigned year)
{
    return ByteVec{static_cast<unsigned char>(day), static_cast<unsigned char>(month),
                   static_cast<unsigned char>(year), static_cast<unsigned char>(year >> 8)};
}

std::string TwoDigits(unsigned n)
{
    return (n < 10 ? "0" : "") + std::to_string(n);
}

} // namespace

FullCardSimulator::FullCardSimulator(const Clock& clock) : FullCardSimulator(CardModel(), clock)
{
}

FullCardSimulator::FullCardSimulator(const CardModel& model, const Clock& clock)
    : m_model(model),
      m_liveData(model.NumInputs(), model.NumOutputs(),
                 [this](bool isInput, unsigned index, std::int64_t ms) {
                     return PointValue(isInput, index, ms);
                 }),
      m_history(model.NumInputs(), model.NumOutputs(),
                [this](bool isInput, unsigned index, std::int64_t ms) {
                    return SimulatedPlant::HistoryValue(isInput, index, SetupOf(isInput, index),
                                                        ms);
                }),
      m_configuration(CardConfiguration::Data{
          [this] { return CurrentSettings().Encode(); }, &CardSettings::HasKnownHeader,
          [this](const ByteVec& data) { return TakeSettings(data); }}),
      m_outputs(model.NumOutputs()), m_statistics(model.NumInputs()),
      m_safeValues(model.NumOutputs(), 0.0f)
{
    SetClock(clock ? clock : MonotonicSinceNow());
    FillPoints();
    AddNamedVariables();
    AddVendorCommands();
    AddCalibrationCommands();
    AddControlModules();
    KeepSettingsInEe();
}

void FullCardSimulator::SetClock(const Clock& clock)
{
    // DEDOCardSimulator's parts (traffic log time stamps) keep the same time.
    DEDOCardSimulator::SetClock(clock);
    auto lock = LockState();
    m_clock = clock;
}

std::int64_t FullCardSimulator::NowMs() const
{
    return static_cast<std::int64_t>(m_clock());
}

void FullCardSimulator::SetVendorCommand(std::uint16_t subCommand, VendorCommand command)
{
    auto lock = LockState();
    m_vendorCommands[subCommand] = std::move(command);
}

void FullCardSimulator::AnswerBusy(std::uint16_t subCommand, unsigned times)
{
    auto lock = LockState();
    m_busyAnswers[subCommand] = times;
}

void FullCardSimulator::FillPoints()
{
    RegisterMap& input = InputRegisters();
    RegisterMap& holding = HoldingRegisters();
    // Serial number, firmware 2.10, and a register map with notes, safe values, long-term
    // statistics and graphs.
    input[900] = CardBytes::U16(m_model.serialNumber);
    input[901] = CardBytes::U16(2);
    input[902] = CardBytes::U16(10);
    input[903] = CardBytes::U16(m_model.hardwareRevision);
    input[910] = CardBytes::U16(static_cast<std::uint16_t>(m_model.cardType));
    input[65433] = CardBytes::U16(m_model.registerMapVersion);
    // A rig's cards start without calibration.
    if (!m_model.IsDefault())
        input[911] = CardBytes::U16(0);

    for (unsigned i = 0; i < m_model.NumInputs(); ++i) {
        holding[baseProfile + i] = CardBytes::U16(inputProfiles[i]);
        const bool wideRange = inputProfiles[i] == 2;
        holding[baseLowerLimit + i] = CardBytes::U16(0);
        holding[baseUpperLimit + i] = CardBytes::U16(wideRange ? 500 : 100);
        holding[basePartNumber + i] = CardBytes::Text("KT-IN-" + TwoDigits(i + 1), partNumberBytes);
        holding[baseDate + i] = Date(1 + i, 3, 2024);
        m_statistics[i].high.value = 1800 * (i + 1);
        m_statistics[i].low.value = 3600 * (i + 1);
        m_statistics[i].pulses.value = 12 * (i + 1);
    }
    if (m_model.IsDefault()) {
        holding[baseOffset + 6] = CardBytes::Float(0.25f);
        holding[baseOffset + 20] = CardBytes::Float(-0.5f);
    }

    for (unsigned i = 0; i < m_model.NumOutputs(); ++i) {
        const unsigned o = outputShift + i;
        holding[baseProfile + o] = CardBytes::U16(outputProfiles[i]);
        holding[baseLowerLimit + o] = CardBytes::U16(0);
        holding[baseUpperLimit + o] = CardBytes::U16(100);
        // Half the outputs have a part number and a calibration date, half show neither.
        if (i % 2 == 0) {
            holding[basePartNumber + o] =
                CardBytes::Text("KT-OUT-" + TwoDigits(i + 1), partNumberBytes);
            holding[baseDate + o] = Date(15, 6, 2023);
        }
        float value = 12.5f * float(i);
        if (outputProfiles[i] == 2)
            value = 20.0f + 10.0f * float(i - 8);
        else if (outputProfiles[i] == 20)
            value = 1.0f + 2.5f * float(i - 12);
        else if (outputProfiles[i] == digital)
            value = float(i % 2);
        // A rig's outputs start at code 0, driving nothing.
        if (m_model.IsDefault())
            SetOutputValue(i, value);
        else
            SetOutputRaw(i, 0);
    }
    if (m_model.IsDefault()) {
        // One output under override.
        holding[baseOverride + outputShift + 3] = CardBytes::Float(75.0f);
        Coils()[baseOverride + outputShift + 3] = true;
        m_safeValues[0] = 25.0f;
        m_safeValues[16] = 1.0f;
    }
    RefreshDynamicEntries(0);
}

void FullCardSimulator::AddNamedVariables()
{
    CardNamedVariables& v = m_namedVariables;
    v.Add("LiveDataSampleIntervalMsecs",
          [] { return CardNamedVariables::PackedFloat(float(LiveDataFeed::tickMs)); });
    v.Add("HistoricalDataSampleIntervalMsecs",
          [] { return CardNamedVariables::PackedFloat(float(CardHistory::intervalMs)); });
    v.Add("HistoricalDataMsecsSinceLastStore", [this] {
        return CardNamedVariables::PackedFloat(float(CardHistory::MsSinceLastStore(NowMs())));
    });
    v.Add("SecondsSinceReset", [this] {
        return CardNamedVariables::PackedUInt32(static_cast<std::uint32_t>(NowMs() / 1000));
    });
    v.AddFloat("OutputsToSafeMinutes", m_softDogMinutes);
    for (unsigned i = 0; i < m_model.NumOutputs(); ++i)
        v.AddFloat("ProfiledSafeVal[" + std::to_string(i) + "]", m_safeValues[i]);
    v.Add("ProfiledSafeVals",
          [this] { return CardNamedVariables::PackedFloatArray(m_safeValues); });
}

void FullCardSimulator::AddVendorCommands()
{
    SetVendorCommand(16, [this](const ByteVec& arguments, ByteVec& payload, std::int64_t now) {
        return m_liveData.Handle(arguments, payload, now);
    });
    SetVendorCommand(17, [this](const ByteVec& arguments, ByteVec& payload, std::int64_t now) {
        return m_history.HandleRead(arguments, payload, now);
    });
    SetVendorCommand(18, [this](const ByteVec& arguments, ByteVec&, std::int64_t now) {
        return m_history.HandleClear(arguments, now);
    });
    AddConfigurationCommands();
    SetVendorCommand(CardTrafficLog::subCommand,
                     [this](const ByteVec& arguments, ByteVec& payload, std::int64_t) {
                         return m_trafficLog.HandleRead(arguments, payload);
                     });
    SetVendorCommand(19, [this](const ByteVec& arguments, ByteVec& payload, std::int64_t) {
        return ReadNamedVariable(arguments, payload);
    });
    SetVendorCommand(20, [this](const ByteVec& arguments, ByteVec&, std::int64_t) {
        return m_namedVariables.HandleWrite(arguments);
    });
    SetVendorCommand(22, [this](const ByteVec&, ByteVec& payload, std::int64_t) {
        if (m_model.IsDefault()) {
            payload.assign(fullCardConfigText, fullCardConfigText + sizeof fullCardConfigText - 1);
        } else {
            const std::string text = RigCardConfigText();
            payload.assign(text.begin(), text.end());
        }
        return 0;
    });
}

std::string FullCardSimulator::RigCardConfigText() const
{
    const bool input = m_model.cardType == CardModel::inputCard;
    return std::string(input ? "Tolvaren Input Card" : "Tolvaren Output Card") +
           " (simulated), hardware revision " + std::to_string(m_model.hardwareRevision) +
           "\nSwitches 1-5: on off off off off = address 1\nSwitch 6: off = 115200 baud, 8N1\n" +
           (input ? "16 inputs" : "16 outputs");
}

void FullCardSimulator::AddCalibrationCommands()
{
    SetVendorCommand(5, [this](const ByteVec& arguments, ByteVec& payload, std::int64_t) {
        return m_calibration.HandleRead(arguments, payload);
    });
    SetVendorCommand(6, [this](const ByteVec& arguments, ByteVec&, std::int64_t) {
        const int result = m_calibration.HandleStore(arguments);
        if (result == 0 && m_calibration.Stored())
            InputRegisters()[911] = CardBytes::U16(1);
        return result;
    });
    SetVendorCommand(7, [this](const ByteVec& arguments, ByteVec&, std::int64_t) {
        return m_calibration.HandleWrite(arguments);
    });
}

int FullCardSimulator::ReadNamedVariable(const ByteVec& arguments, ByteVec& payload) const
{
    const int result = m_namedVariables.HandleRead(arguments, payload);
    if (result != 0 || m_model.registerMapVersion >= 8)
        return result;
    // Only floats existed then: a float's four bytes, anything else an empty list.
    float value;
    const bool isFloat = CardNamedVariables::UnpackFloat(payload, value);
    payload.clear();
    if (isFloat)
        CardBytes::AppendFloat(payload, value);
    return 0;
}

void FullCardSimulator::SetAnalogInputs(AnalogInputs inputs)
{
    auto lock = LockState();
    m_analogInputs = std::move(inputs);
}

std::uint16_t FullCardSimulator::OutputCode(unsigned index) const
{
    auto lock = LockState();
    return index < m_outputs.size() ? m_outputs[index].raw : 0;
}

std::vector<float> FullCardSimulator::CalibrationValues(unsigned block) const
{
    auto lock = LockState();
    return m_calibration.Values(block);
}

void FullCardSimulator::StoreCalibrationValues(unsigned block, const std::vector<float>& values)
{
    auto lock = LockState();
    m_calibration.SetValues(block, values);
    InputRegisters()[911] = CardBytes::U16(1);
}

void FullCardSimulator::AddConfigurationCommands()
{
    CardConfiguration& c = m_configuration;
    SetVendorCommand(1, [&c](const ByteVec& arguments, ByteVec& payload, std::int64_t) {
        return c.HandleReadStart(arguments, payload);
    });
    SetVendorCommand(2, [&c](const ByteVec& arguments, ByteVec& payload, std::int64_t) {
        return c.HandleReadNext(arguments, payload);
    });
    SetVendorCommand(3, [&c](const ByteVec& arguments, ByteVec&, std::int64_t) {
        return c.HandleWriteStart(arguments);
    });
    SetVendorCommand(4, [&c](const ByteVec& arguments, ByteVec&, std::int64_t) {
        return c.HandleWriteNext(arguments);
    });
    SetVendorCommand(15, [](const ByteVec& arguments, ByteVec&, std::int64_t) {
        if (arguments != ByteVec{15})
            return illegalDataValue; // the key guards against clearing by accident
        ClearNoteStore();
        return 0;
    });
    SetVendorCommand(23, [this](const ByteVec& arguments, ByteVec& payload, std::int64_t) {
        KeepSettingsInEe();
        return m_configuration.HandleEeRead(arguments, payload);
    });
    SetVendorCommand(24, [this](const ByteVec& arguments, ByteVec&, std::int64_t) {
        KeepSettingsInEe();
        return m_configuration.HandleEeWrite(arguments);
    });
    // A card restarts at once and never answers; it comes back with its reset flag set and with
    // the settings its EE holds.
    SetVendorCommand(25, [this](const ByteVec&, ByteVec&, std::int64_t) {
        KeepSettingsInEe();
        m_configuration.Restart();
        LoadSettingsFromEe();
        Coils()[912] = true;
        return NoReply;
    });
}

CardSettings FullCardSimulator::CurrentSettings()
{
    const RegisterMap& holding = HoldingRegisters();
    // An entry as its field holds it: cut or zero-padded; an address never written reads 0.
    auto field = [&holding](unsigned address, std::size_t size) {
        const auto it = holding.find(static_cast<std::uint16_t>(address));
        ByteVec bytes = it != holding.end() ? it->second : ByteVec();
        bytes.resize(size, 0);
        return bytes;
    };
    auto u16 = [&field](unsigned address) { return CardBytes::ReadU16(field(address, 2), 0); };
    auto real = [&field](unsigned address) { return CardBytes::ReadFloat(field(address, 4), 0); };

    CardSettings s;
    s.commsDogBusOffSeconds = u16(commsDogBusOff);
    s.commsDogOutputsOffSeconds = u16(commsDogOutputsOff);
    s.softDogMinutes = m_softDogMinutes;
    for (bool isOutput : {false, true}) {
        std::vector<CardSettings::Point>& points = isOutput ? s.outputs : s.inputs;
        points.resize(isOutput ? m_model.NumOutputs() : m_model.NumInputs());
        for (unsigned i = 0; i < points.size(); ++i) {
            CardSettings::Point& p = points[i];
            const unsigned at = i + (isOutput ? outputShift : 0);
            p.label = field(baseLabel + at, CardSettings::labelSize);
            p.partNumber = field(basePartNumber + at, CardSettings::partNumberSize);
            p.profile = u16(baseProfile + at);
            p.lowerLimit = static_cast<std::int16_t>(u16(baseLowerLimit + at));
            p.upperLimit = static_cast<std::int16_t>(u16(baseUpperLimit + at));
            p.offset = real(baseOffset + at);
            p.date = field(baseDate + at, CardSettings::dateSize);
            if (!isOutput)
                continue;
            p.overrideValue = real(baseOverride + at);
            const auto active = Coils().find(static_cast<std::uint16_t>(baseOverride + at));
            p.overrideActive = active != Coils().end() && active->second;
            p.safeValue = m_safeValues[i];
        }
    }
    return s;
}

void FullCardSimulator::ApplySettings(const CardSettings& s)
{
    RegisterMap& holding = HoldingRegisters();
    holding[commsDogBusOff] = CardBytes::U16(s.commsDogBusOffSeconds);
    holding[commsDogOutputsOff] = CardBytes::U16(s.commsDogOutputsOffSeconds);
    m_softDogMinutes = s.softDogMinutes;
    auto applyPoint = [&holding](const CardSettings::Point& p, std::uint16_t at) {
        holding[baseLabel + at] = p.label;
        holding[basePartNumber + at] = p.partNumber;
        holding[baseProfile + at] = CardBytes::U16(p.profile);
        holding[baseLowerLimit + at] = CardBytes::U16(static_cast<std::uint16_t>(p.lowerLimit));
        holding[baseUpperLimit + at] = CardBytes::U16(static_cast<std::uint16_t>(p.upperLimit));
        holding[baseOffset + at] = CardBytes::Float(p.offset);
        holding[baseDate + at] = p.date;
    };
    for (unsigned i = 0; i < s.inputs.size(); ++i)
        applyPoint(s.inputs[i], static_cast<std::uint16_t>(i));
    for (unsigned i = 0; i < s.outputs.size(); ++i) {
        const CardSettings::Point& p = s.outputs[i];
        const std::uint16_t at = static_cast<std::uint16_t>(outputShift + i);
        const SimulatedPlant::PointSetup before = SetupOf(false, i);
        applyPoint(p, at);
        holding[baseOverride + at] = CardBytes::Float(p.overrideValue);
        Coils()[baseOverride + at] = p.overrideActive;
        m_safeValues[i] = p.safeValue;
        // As for a write of these registers: an output whose value means something else now
        // keeps its value and drives the signal that stands for it.
        const SimulatedPlant::PointSetup after = SetupOf(false, i);
        if (after.profileId != before.profileId || after.lowerLimit != before.lowerLimit ||
            after.upperLimit != before.upperLimit)
            SetOutputValue(i, m_outputs[i].value);
    }
}

bool FullCardSimulator::TakeSettings(const ByteVec& data)
{
    const std::optional<CardSettings> settings =
        CardSettings::Decode(data, m_model.NumInputs(), m_model.NumOutputs());
    if (!settings)
        return false;
    ApplySettings(*settings);
    return true;
}

// The card writes every change of its settings into its EE at once. Here the EE copy is brought
// up to date when anything may look at it (an EE read or write, a restart); so an EE write over
// the copy, the service wipe, stays until the restart that finds the copy broken.
void FullCardSimulator::KeepSettingsInEe()
{
    ByteVec now = CurrentSettings().Encode();
    if (now == m_settingsInEe)
        return;
    m_configuration.SetEe(CardConfiguration::settingsAddress, now);
    m_settingsInEe.swap(now);
}

// A card that finds no valid settings in its EE, after the wipe, starts from its defaults; all
// else the EE kept is gone with them: its calibration and its notes.
void FullCardSimulator::LoadSettingsFromEe()
{
    const unsigned inputs = m_model.NumInputs();
    const unsigned outputs = m_model.NumOutputs();
    const ByteVec stored = m_configuration.Ee(CardConfiguration::settingsAddress,
                                              CardSettings::EncodedSize(inputs, outputs));
    if (TakeSettings(stored))
        return;
    ApplySettings(CardSettings::Defaults(inputs, outputs));
    m_calibration = CardCalibrationStore();
    InputRegisters()[911] = CardBytes::U16(0);
    ClearNoteStore();
    KeepSettingsInEe();
}

// Its control modules' parameters, their values and names, and the card's build date.
void FullCardSimulator::AddControlModules()
{
    SetVendorCommand(8, [](const ByteVec&, ByteVec& payload, std::int64_t) {
        payload.assign(buildDate, buildDate + sizeof buildDate - 1);
        return 0;
    });
    // The cards of a calibration rig have no control modules.
    if (!m_model.IsDefault()) {
        m_namedVariables.Add("~NumControlModules",
                             [] { return CardNamedVariables::PackedFloat(0.0f); });
        return;
    }
    CardControlModules& m = m_controlModules;
    m.Install(HoldingRegisters(), InputRegisters(), Coils(), DiscreteInputs(), m_namedVariables);
    SetVendorCommand(9, [&m](const ByteVec& arguments, ByteVec& payload, std::int64_t) {
        return m.HandleDefinition(arguments, payload);
    });
    SetVendorCommand(10, [&m](const ByteVec& arguments, ByteVec& payload, std::int64_t) {
        return m.HandleEnumDefinition(arguments, payload);
    });
}

int FullCardSimulator::HandleVendorCommand(std::uint16_t subCommand, const ByteVec& arguments,
                                           ByteVec& payload)
{
    const auto busy = m_busyAnswers.find(subCommand);
    if (busy != m_busyAnswers.end() && busy->second > 0) {
        --busy->second;
        return 6;
    }
    const auto command = m_vendorCommands.find(subCommand);
    if (command == m_vendorCommands.end())
        return DEDOCardSimulator::HandleVendorCommand(subCommand, arguments, payload);
    return command->second(arguments, payload, NowMs());
}

void FullCardSimulator::FrameHandled(const ByteVec& request, const ByteVec* reply)
{
    if (CardTrafficLog::IsLogRead(request))
        return;
    const std::int64_t now = NowMs();
    m_trafficLog.Record(CardTrafficLog::Received, request, now);
    if (reply)
        m_trafficLog.Record(CardTrafficLog::Sent, *reply, now);
}

int FullCardSimulator::HandleRequest(unsigned char functionCode, const ByteVec& requestData,
                                     ByteVec& replyData)
{
    if (functionCode == VendorCommandFrame::functionCode || requestData.size() <= 3)
        return DEDOCardSimulator::HandleRequest(functionCode, requestData, replyData);
    const std::int64_t now = NowMs();
    switch (functionCode) {
    case 1:
    case 2:
    case 3:
        RefreshDynamicEntries(now);
        return DEDOCardSimulator::HandleRequest(functionCode, requestData, replyData);
    case 4:
        RefreshDynamicEntries(now);
        return ReadInputRegisters(requestData, replyData);
    default: {
        const int result = DEDOCardSimulator::HandleRequest(functionCode, requestData, replyData);
        if (result == 0)
            AfterWrite(functionCode, requestData, now);
        return result;
    }
    }
}

// A card answers a block of consecutive items from its input registers as it does from its
// holding registers (DEDOCardSimulator answers only a single item of exactly the size asked),
// so all input values or raw values come in one read.
int FullCardSimulator::ReadInputRegisters(const ByteVec& request, ByteVec& reply)
{
    const unsigned start = CardBytes::ReadU16(request, 0);
    const unsigned quantity = CardBytes::ReadU16(request, 2);
    if (quantity > maxRegisterReadQuantity)
        return illegalDataValue;
    const std::size_t size = quantity * 2u;
    const RegisterMap& input = InputRegisters();
    reply.reserve(1 + size);
    reply.push_back(static_cast<unsigned char>(size));
    for (unsigned address = start; reply.size() - 1 < size; ++address) {
        const auto it =
            address <= 0xFFFF ? input.find(static_cast<std::uint16_t>(address)) : input.end();
        if (it == input.end()) {
            reply.resize(1 + size, 0);
            break;
        }
        if (it->second.size() > size - (reply.size() - 1))
            return illegalDataValue; // a read never ends inside an item
        reply.insert(reply.end(), it->second.begin(), it->second.end());
    }
    return 0;
}

SimulatedPlant::PointSetup FullCardSimulator::SetupOf(bool isInput, unsigned index)
{
    const unsigned at = index + (isInput ? 0 : outputShift);
    const RegisterMap& holding = HoldingRegisters();
    auto entry = [&holding](unsigned address, std::size_t size) -> const ByteVec* {
        const auto it = holding.find(static_cast<std::uint16_t>(address));
        return it != holding.end() && it->second.size() == size ? &it->second : nullptr;
    };
    SimulatedPlant::PointSetup setup;
    if (const ByteVec* profile = entry(baseProfile + at, 2))
        setup.profileId = CardBytes::ReadU16(*profile, 0);
    if (const ByteVec* lower = entry(baseLowerLimit + at, 2))
        setup.lowerLimit = static_cast<std::int16_t>(CardBytes::ReadU16(*lower, 0));
    if (const ByteVec* upper = entry(baseUpperLimit + at, 2))
        setup.upperLimit = static_cast<std::int16_t>(CardBytes::ReadU16(*upper, 0));
    if (const ByteVec* offset = entry(baseOffset + at, 4))
        setup.offset = CardBytes::ReadFloat(*offset, 0);
    return setup;
}

float FullCardSimulator::ReportedOutputValue(unsigned index)
{
    const std::uint16_t at = static_cast<std::uint16_t>(baseOverride + outputShift + index);
    const auto active = Coils().find(at);
    if (active != Coils().end() && active->second) {
        const auto value = HoldingRegisters().find(at);
        if (value != HoldingRegisters().end() && value->second.size() == 4)
            return CardBytes::ReadFloat(value->second, 0);
    }
    return m_outputs[index].value;
}

float FullCardSimulator::PointValue(bool isInput, unsigned index, std::int64_t ms)
{
    if (isInput)
        return SimulatedPlant::InputValue(index, SetupOf(true, index), ms);
    // An output holds its value; its live data is what it drives now.
    return ReportedOutputValue(index);
}

std::uint32_t FullCardSimulator::StatisticNow(unsigned index, std::uint16_t base,
                                              std::int64_t nowMs) const
{
    const InputStatistics& s = m_statistics[index];
    auto highMs = [index](std::int64_t from, std::int64_t to) {
        return SimulatedPlant::HighMsUntil(index, to) - SimulatedPlant::HighMsUntil(index, from);
    };
    std::int64_t counted = 0;
    std::uint32_t value = 0;
    if (base == baseHighTime) {
        value = s.high.value;
        counted = highMs(s.high.sinceMs, nowMs) / 1000;
    } else if (base == baseLowTime) {
        value = s.low.value;
        counted = ((nowMs - s.low.sinceMs) - highMs(s.low.sinceMs, nowMs)) / 1000;
    } else {
        value = s.pulses.value;
        counted = SimulatedPlant::RisingEdgesUntil(index, nowMs) -
                  SimulatedPlant::RisingEdgesUntil(index, s.pulses.sinceMs);
    }
    return value + static_cast<std::uint32_t>(counted);
}

void FullCardSimulator::RefreshDynamicEntries(std::int64_t nowMs)
{
    RegisterMap& input = InputRegisters();
    RegisterMap& holding = HoldingRegisters();
    if (m_model.IsDefault())
        m_controlModules.Refresh(input, nowMs);
    for (unsigned i = 0; i < m_model.NumInputs(); ++i) {
        if (m_analogInputs) {
            RefreshAnalogInput(i);
        } else {
            input[baseValue + i] =
                CardBytes::Float(SimulatedPlant::InputValue(i, SetupOf(true, i), nowMs));
            input[baseRaw + i] = CardBytes::U16(
                SimulatedPlant::RawFromVolts(SimulatedPlant::InputVolts(i, nowMs)));
        }
        for (std::uint16_t base : {baseHighTime, baseLowTime, basePulseCount})
            holding[base + i] = CardBytes::U32(StatisticNow(i, base, nowMs));
    }
    for (unsigned i = 0; i < m_model.NumOutputs(); ++i) {
        const float reported = ReportedOutputValue(i);
        holding[baseValue + i] = CardBytes::Float(reported);
        holding[baseRaw + i] =
            CardBytes::U16(reported == m_outputs[i].value
                               ? m_outputs[i].raw
                               : SimulatedPlant::RawFromVolts(
                                     SimulatedPlant::VoltsFromValue(SetupOf(false, i), reported)));
    }
}

void FullCardSimulator::RefreshAnalogInput(unsigned index)
{
    const AnalogReading reading = m_analogInputs(index);
    InputRegisters()[baseRaw + index] = CardBytes::U16(reading.raw);
    // The card's own line: real = intercept + gradient x raw, raw in ADC counts (the register
    // holds 64 per count from register-map version 8 on).
    const double counts =
        reading.raw / (m_model.registerMapVersion >= 8 ? 64.0 : 1.0);
    const unsigned block = reading.path == 1 ? 2 : 0;
    const float value = static_cast<float>(m_calibration.Value(block, index) +
                                           m_calibration.Value(block + 1, index) * counts);
    InputRegisters()[baseValue + index] = CardBytes::Float(value);
}

void FullCardSimulator::AfterWrite(unsigned char functionCode, const ByteVec& request,
                                   std::int64_t nowMs)
{
    if (functionCode != 6 && functionCode != 16)
        return;
    const unsigned start = CardBytes::ReadU16(request, 0);
    RegisterMap& holding = HoldingRegisters();
    // A card keeps one item per address: a write that covers several items of a per-point
    // block (two output values in one request) sets each of them.
    ByteVec written = holding[static_cast<std::uint16_t>(start)];
    std::size_t itemSize = written.size();
    for (const ItemBlock& block : itemBlocks) {
        if (Within(start, block.base, block.count) && written.size() > block.itemSize &&
            written.size() % block.itemSize == 0 &&
            start + written.size() / block.itemSize <= block.base + block.count)
            itemSize = block.itemSize;
    }
    for (std::size_t at = 0; at < written.size(); at += itemSize) {
        const unsigned address = start + unsigned(at / itemSize);
        ByteVec& entry = holding[static_cast<std::uint16_t>(address)];
        entry.assign(written.begin() + long(at), written.begin() + long(at + itemSize));
        AfterItemWritten(address, entry, nowMs);
    }
}

void FullCardSimulator::AfterItemWritten(unsigned address, const ByteVec& entry, std::int64_t nowMs)
{
    const unsigned numInputs = m_model.NumInputs();
    const unsigned numOutputs = m_model.NumOutputs();
    if (address == 65432 && entry.size() == 2) {
        // The serial number is set through this holding register and read at 900.
        InputRegisters()[900] = entry;
    } else if (Within(address, baseValue, numOutputs) && entry.size() == 4) {
        SetOutputValue(address - baseValue, CardBytes::ReadFloat(entry, 0));
    } else if (Within(address, baseRaw, numOutputs) && entry.size() == 2) {
        SetOutputRaw(address - baseRaw, CardBytes::ReadU16(entry, 0));
    } else if (Within(address, baseHighTime, numInputs) && entry.size() == 4) {
        m_statistics[address - baseHighTime].high = Statistic{CardBytes::ReadU32(entry, 0), nowMs};
    } else if (Within(address, baseLowTime, numInputs) && entry.size() == 4) {
        m_statistics[address - baseLowTime].low = Statistic{CardBytes::ReadU32(entry, 0), nowMs};
    } else if (Within(address, basePulseCount, numInputs) && entry.size() == 4) {
        m_statistics[address - basePulseCount].pulses =
            Statistic{CardBytes::ReadU32(entry, 0), nowMs};
    } else {
        // A new profile or new limits change what an output's value means: it keeps its
        // value and drives the signal that now stands for it.
        for (std::uint16_t base : {baseProfile, baseLowerLimit, baseUpperLimit}) {
            if (Within(address, base + outputShift, numOutputs)) {
                const unsigned index = address - base - outputShift;
                SetOutputValue(index, m_outputs[index].value);
            }
        }
    }
}

void FullCardSimulator::SetOutputValue(unsigned index, float value)
{
    m_outputs[index].value = value;
    const double gradient = m_calibration.Value(1, index);
    if (m_model.cardType == CardModel::outputCard && gradient != 0.0) {
        // A calibrated Output Card drives a value in volts through its stored line.
        const double code = (value - m_calibration.Value(0, index)) / gradient;
        m_outputs[index].raw = static_cast<std::uint16_t>(std::lround(std::clamp(code, 0.0, 65535.0)));
        return;
    }
    m_outputs[index].raw =
        SimulatedPlant::RawFromVolts(SimulatedPlant::VoltsFromValue(SetupOf(false, index), value));
}

void FullCardSimulator::SetOutputRaw(unsigned index, std::uint16_t raw)
{
    m_outputs[index].raw = raw;
    m_outputs[index].value =
        SimulatedPlant::ValueFromVolts(SetupOf(false, index), SimulatedPlant::VoltsFromRaw(raw));
}
