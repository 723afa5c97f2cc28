#include "tests/support/FakeCardProtocol.h"

#include <algorithm>
#include <cstring>

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include "protocol/TolvarenCommsCommon.h"
#include "simulator/ModbusSlaveConstants.h"

using namespace Tolvaren;

namespace {

ByteVec Text(const std::string& text, std::size_t length)
{
    ByteVec bytes(text.begin(), text.end());
    bytes.resize(length, 0);
    return bytes;
}

ByteVec Be16(std::uint16_t v)
{
    return ByteVec{static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
}

ByteVec Be32(std::uint32_t v)
{
    return ByteVec{static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
                   static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
}

ByteVec BeFloat(float f)
{
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return Be32(bits);
}

void Append(ByteVec& to, const ByteVec& more)
{
    to.insert(to.end(), more.begin(), more.end());
}

FakeCardProtocol::Points MakePoints(IoDirection dir, unsigned n)
{
    FakeCardProtocol::Points p;
    const bool in = dir == Input;
    for (unsigned i = 0; i < n; ++i) {
        p.labels.push_back((in ? "Input label " : "Output label ") + std::to_string(i + 1));
        p.partNumbers.push_back((in ? "PN-I" : "PN-O") + std::to_string(i + 1));
        p.dates.emplace_back(static_cast<std::uint8_t>(1 + i),
                             static_cast<std::uint8_t>(in ? 3 : 9),
                             static_cast<std::uint16_t>(2020 + i));
        p.values.push_back((in ? 10.5f : 20.25f) + i);
        p.offsets.push_back((in ? 0.25f : -0.5f) * (i + 1));
        p.overrideValues.push_back(5.5f + i);
        p.overrideActive.push_back(i % 2 == 1);
        p.profileIds.push_back(static_cast<std::uint16_t>(i % 3 == 0 ? 0xFFFF : i));
        p.rawValues.push_back(static_cast<std::uint16_t>((in ? 1000 : 2000) + i));
        p.lowerLimits.push_back(static_cast<std::int16_t>(in ? -10 - int(i) : -20 - int(i)));
        p.upperLimits.push_back(static_cast<std::int16_t>((in ? 100 : 200) + i));
        if (in) {
            p.lowTimes.push_back(100 + i);
            p.highTimes.push_back(200 + i);
            p.pulseCounts.push_back(300 + i);
        }
    }
    return p;
}

unsigned PointCount(int cardType, IoDirection dir)
{
    if (cardType < 1 || cardType > 4) {
        return 0;
    }
    return dir == Input ? TolvarenNumInputs(cardType) : TolvarenNumOutputs(cardType);
}

} // namespace

struct FakeCardProtocol::State
{
    mutable boost::mutex mutex;
    std::uint16_t version = 0;

    bool notesSupported = true;
    std::size_t notesCapacity = 4096;
    std::size_t readPiece = 100;
    std::map<unsigned, std::string> notes;
    unsigned readIndex = 0;
    std::size_t readPosition = 0;
    bool readOpen = false;
    unsigned writeIndex = 0;
    std::string writeText;
    bool writeOpen = false;

    std::map<std::string, CPackedVal> variables;
    std::vector<ByteVec> variableWrites;
    std::vector<ParameterReplies> parameters;

    // Keyed by (input, index).
    std::map<std::pair<bool, unsigned>, std::vector<float>> samples;
    unsigned samplesPiece = 60; // 60 floats keep a reply within one RTU frame

    std::size_t StoredBytesExcept(unsigned index) const
    {
        std::size_t total = 0;
        for (const auto& note : notes) {
            if (note.first != index) {
                total += note.second.size();
            }
        }
        return total;
    }
};

const std::map<unsigned, std::pair<std::string, std::string>>& FakeCardProtocol::Profiles()
{
    static const std::map<unsigned, std::pair<std::string, std::string>> profiles = {
        {0, {"Voltage 0-10V <-> 0-100%", "C26"}},
        {1, {"Current 4-20mA <-> 0-100%", "C26"}},
        {2, {"Voltage in Volts", "C27"}},
        {7, {"Thermistor 10K3A1 HIGH", "C26"}},
        {119, {"Resistance in Ohms - HIGH", "B21"}},
    };
    return profiles;
}

FakeCardProtocol::FakeCardProtocol(FakeCard& card, int cardType, std::uint16_t registerVersion)
    : m_cardType(cardType), m_version(registerVersion), m_state(std::make_shared<State>())
{
    m_state->version = registerVersion;
    m_inputs = MakePoints(Input, PointCount(cardType, Input));
    m_outputs = MakePoints(Output, PointCount(cardType, Output));
    InstallPoints(card, Input, m_inputs);
    InstallPoints(card, Output, m_outputs);

    card.SetHoldingRegisterUInt16(590, 30);
    card.SetHoldingRegisterUInt16(591, 60);
    card.SetDiscreteInput(590, true);
    for (const auto& profile : Profiles()) {
        card.SetInputRegister(static_cast<std::uint16_t>(9600 + profile.first),
                              Text(profile.second.first, 32));
        card.SetInputRegister(static_cast<std::uint16_t>(9800 + profile.first),
                              Text(profile.second.second, 8));
    }

    std::vector<float> safeValues;
    for (unsigned i = 0; i < m_outputs.values.size(); ++i) {
        safeValues.push_back(0.5f * i);
    }
    m_state->variables["ProfiledSafeVals"] = CPackedVal::FromFloatArray(safeValues);
    m_state->variables["OutputsToSafeMinutes"] = CPackedVal::FromFloat(7.9f);
    m_state->variables["~NumControlModules"] = CPackedVal::FromFloat(2.0f);
    InstallHandlers(card);
}

void FakeCardProtocol::InstallPoints(FakeCard& card, IoDirection dir, const Points& p)
{
    const unsigned n = static_cast<unsigned>(p.values.size());
    const unsigned shift = (dir == Output && m_version > 3) ? 50 : 0;
    auto rule = [&](unsigned base, unsigned i) {
        return static_cast<std::uint16_t>(base + shift + i);
    };
    ByteVec inputValues, inputRaws;
    for (unsigned i = 0; i < n; ++i) {
        card.SetHoldingRegister(rule(9200, i), Text(p.labels[i], 40));
        card.SetHoldingRegister(rule(9500, i), Text(p.partNumbers[i], 16));
        card.SetHoldingRegister(rule(65100, i), p.dates[i].ToByteVec());
        card.SetHoldingRegister(rule(9400, i), BeFloat(p.offsets[i]));
        card.SetHoldingRegister(rule(9100, i), Be16(p.profileIds[i]));
        card.SetHoldingRegister(rule(600, i), Be16(static_cast<std::uint16_t>(p.lowerLimits[i])));
        card.SetHoldingRegister(rule(100, i), Be16(static_cast<std::uint16_t>(p.upperLimits[i])));
        if (dir == Input) {
            Append(inputValues, BeFloat(p.values[i]));
            Append(inputRaws, Be16(p.rawValues[i]));
            card.SetHoldingRegister(static_cast<std::uint16_t>(65250 + i), Be32(p.lowTimes[i]));
            card.SetHoldingRegister(static_cast<std::uint16_t>(65200 + i), Be32(p.highTimes[i]));
            card.SetHoldingRegister(static_cast<std::uint16_t>(65300 + i), Be32(p.pulseCounts[i]));
        } else {
            card.SetHoldingRegister(static_cast<std::uint16_t>(9000 + i), BeFloat(p.values[i]));
            card.SetHoldingRegister(static_cast<std::uint16_t>(65400 + i), Be16(p.rawValues[i]));
            card.SetHoldingRegister(rule(9300, i), BeFloat(p.overrideValues[i]));
            card.SetCoil(rule(9300, i), p.overrideActive[i]);
        }
    }
    if (dir == Input && n > 0) {
        // The input tables are read in one piece from their base.
        card.SetInputRegister(9000, inputValues);
        card.SetInputRegister(65400, inputRaws);
    }
}

void FakeCardProtocol::InstallHandlers(FakeCard& card)
{
    std::shared_ptr<State> state = m_state;
    typedef TolvarenCommsCommon C;

    card.SetVendorHandler(C::QEL_READ_NOTE_START, [state](const ByteVec& args, ByteVec&) {
        boost::lock_guard<boost::mutex> lock(state->mutex);
        if (!state->notesSupported) {
            return illegalFunction;
        }
        if (args.size() != 2) {
            return illegalDataValue;
        }
        state->readIndex = (args[0] << 8) | args[1];
        state->readPosition = 0;
        state->readOpen = true;
        return 0;
    });
    card.SetVendorHandler(C::QEL_READ_NOTE_NEXT, [state](const ByteVec& args, ByteVec& payload) {
        boost::lock_guard<boost::mutex> lock(state->mutex);
        if (!state->notesSupported) {
            return illegalFunction;
        }
        if (!args.empty()) {
            return illegalDataValue;
        }
        if (!state->readOpen) {
            return 0;
        }
        const std::string& text = state->notes[state->readIndex];
        const std::size_t take = std::min(state->readPiece, text.size() - state->readPosition);
        payload.assign(text.begin() + state->readPosition,
                       text.begin() + state->readPosition + take);
        state->readPosition += take;
        if (take == 0) {
            state->readOpen = false;
        }
        return 0;
    });
    card.SetVendorHandler(C::QEL_WRITE_NOTE_START, [state](const ByteVec& args, ByteVec&) {
        boost::lock_guard<boost::mutex> lock(state->mutex);
        if (!state->notesSupported) {
            return illegalFunction;
        }
        if (args.size() != 2) {
            return illegalDataValue;
        }
        state->writeIndex = (args[0] << 8) | args[1];
        state->writeText.clear();
        state->writeOpen = true;
        return 0;
    });
    card.SetVendorHandler(C::QEL_WRITE_NOTE_NEXT, [state](const ByteVec& args, ByteVec&) {
        boost::lock_guard<boost::mutex> lock(state->mutex);
        if (!state->notesSupported) {
            return illegalFunction;
        }
        if (!state->writeOpen || args.size() > 128) {
            return illegalDataValue;
        }
        if (args.empty()) {
            state->notes[state->writeIndex] = state->writeText;
            state->writeOpen = false;
            return 0;
        }
        if (state->StoredBytesExcept(state->writeIndex) + state->writeText.size() + args.size() >
            state->notesCapacity) {
            return illegalDataValue; // no room
        }
        state->writeText.append(args.begin(), args.end());
        return 0;
    });

    card.SetVendorHandler(C::QEL_GET_PARAMETER_DEFN,
                          [state](const ByteVec& args, ByteVec& payload) {
                              boost::lock_guard<boost::mutex> lock(state->mutex);
                              if (args.size() != 2) {
                                  return illegalDataValue;
                              }
                              const unsigned index = (args[0] << 8) | args[1];
                              if (index < state->parameters.size()) {
                                  payload = state->parameters[index].definition;
                              }
                              return 0;
                          });
    card.SetVendorHandler(C::QEL_GET_PARAMETER_ENUM_DEFN,
                          [state](const ByteVec& args, ByteVec& payload) {
                              boost::lock_guard<boost::mutex> lock(state->mutex);
                              if (args.size() != 4) {
                                  return illegalDataValue;
                              }
                              const unsigned index = (args[0] << 8) | args[1];
                              const unsigned first = (args[2] << 8) | args[3];
                              if (index >= state->parameters.size()) {
                                  return illegalDataAddress;
                              }
                              // Replies are handed out in order; "first" tells which one is wanted
                              // by counting the values of the replies before it.
                              unsigned counted = 0;
                              for (const ByteVec& reply : state->parameters[index].enumReplies) {
                                  if (counted == first) {
                                      payload = reply;
                                      return 0;
                                  }
                                  std::size_t at = 0;
                                  while (at < reply.size()) {
                                      at += 1 + reply[at] + 2;
                                      ++counted;
                                  }
                              }
                              return 0;
                          });

    card.SetVendorHandler(C::QEL_READ_NAMED_VAR, [state](const ByteVec& args, ByteVec& payload) {
        boost::lock_guard<boost::mutex> lock(state->mutex);
        auto it = state->variables.find(std::string(args.begin(), args.end()));
        if (it == state->variables.end()) {
            return illegalDataAddress;
        }
        const CPackedVal& value = it->second;
        if (state->version >= 8) {
            payload = value.Bytes();
        } else if (value.GetTag() == CPackedVal::FloatArrayTag) {
            payload.assign(value.Bytes().begin() + 1, value.Bytes().end());
        } else {
            payload = BeFloat(value.AsFloat());
        }
        return 0;
    });
    card.SetVendorHandler(C::QEL_WRITE_NAMED_VAR, [state](const ByteVec& args, ByteVec&) {
        boost::lock_guard<boost::mutex> lock(state->mutex);
        state->variableWrites.push_back(args);
        if (args.empty() || args.size() < 1u + args[0]) {
            return illegalDataValue;
        }
        const std::string name(args.begin() + 1, args.begin() + 1 + args[0]);
        const ByteVec value(args.begin() + 1 + args[0], args.end());
        if (state->version >= 8) {
            state->variables[name] = CPackedVal(value);
        } else if (value.size() == 4) {
            ByteVec tagged{CPackedVal::FloatTag};
            Append(tagged, value);
            state->variables[name] = CPackedVal(tagged);
        } else {
            return illegalDataValue;
        }
        return 0;
    });

    // 16 and 17 say 1 for an input, 18 says 0.
    card.SetVendorHandler(
        C::QEL_GET_HISTORICAL_DATA, [state](const ByteVec& args, ByteVec& payload) {
            boost::lock_guard<boost::mutex> lock(state->mutex);
            if (args.size() != 4 || args[0] > 1) {
                return illegalDataValue;
            }
            const auto it = state->samples.find({args[0] == 1, args[1]});
            const std::size_t first = (args[2] << 8) | args[3];
            std::size_t count = 0;
            if (it != state->samples.end() && first < it->second.size()) {
                count = std::min<std::size_t>(state->samplesPiece, it->second.size() - first);
            }
            payload.assign(1, static_cast<unsigned char>(count));
            for (std::size_t i = 0; i < count; ++i) {
                Append(payload, BeFloat(it->second[first + i]));
            }
            return 0;
        });
    card.SetVendorHandler(C::QEL_CLEAR_HISTORICAL_DATA, [state](const ByteVec& args, ByteVec&) {
        boost::lock_guard<boost::mutex> lock(state->mutex);
        if (args.size() != 2 || args[0] > 1) {
            return illegalDataValue;
        }
        state->samples.erase({args[0] == 0, args[1]});
        return 0;
    });

    card.SetVendorHandler(C::QEL_GET_CONFIG_TEXT, [](const ByteVec&, ByteVec& payload) {
        const std::string text = ConfigText();
        payload.assign(text.begin(), text.end());
        return 0;
    });
    card.SetVendorHandler(C::QEL_GET_BUILD_DATE, [](const ByteVec&, ByteVec& payload) {
        const std::string text = BuildDate();
        payload.assign(text.begin(), text.end());
        return 0;
    });
    card.SetVendorHandler(C::QEL_GET_TRAFFIC_LOG, [](const ByteVec&, ByteVec&) { return 0; });
}

void FakeCardProtocol::SetNotesSupported(bool supported)
{
    boost::lock_guard<boost::mutex> lock(m_state->mutex);
    m_state->notesSupported = supported;
}

void FakeCardProtocol::SetNotesCapacity(std::size_t bytes)
{
    boost::lock_guard<boost::mutex> lock(m_state->mutex);
    m_state->notesCapacity = bytes;
}

void FakeCardProtocol::SetNote(unsigned noteIndex, const std::string& text)
{
    boost::lock_guard<boost::mutex> lock(m_state->mutex);
    m_state->notes[noteIndex] = text;
}

std::string FakeCardProtocol::Note(unsigned noteIndex) const
{
    boost::lock_guard<boost::mutex> lock(m_state->mutex);
    auto it = m_state->notes.find(noteIndex);
    return it == m_state->notes.end() ? std::string() : it->second;
}

void FakeCardProtocol::SetNoteReadPieceSize(std::size_t bytes)
{
    boost::lock_guard<boost::mutex> lock(m_state->mutex);
    m_state->readPiece = bytes;
}

void FakeCardProtocol::SetNamedVariable(const std::string& name, const CPackedVal& value)
{
    boost::lock_guard<boost::mutex> lock(m_state->mutex);
    m_state->variables[name] = value;
}

void FakeCardProtocol::RemoveNamedVariable(const std::string& name)
{
    boost::lock_guard<boost::mutex> lock(m_state->mutex);
    m_state->variables.erase(name);
}

bool FakeCardProtocol::HasNamedVariable(const std::string& name) const
{
    boost::lock_guard<boost::mutex> lock(m_state->mutex);
    return m_state->variables.count(name) != 0;
}

CPackedVal FakeCardProtocol::NamedVariable(const std::string& name) const
{
    boost::lock_guard<boost::mutex> lock(m_state->mutex);
    auto it = m_state->variables.find(name);
    return it == m_state->variables.end() ? CPackedVal() : it->second;
}

std::vector<ByteVec> FakeCardProtocol::NamedVariableWrites() const
{
    boost::lock_guard<boost::mutex> lock(m_state->mutex);
    return m_state->variableWrites;
}

void FakeCardProtocol::SetParameters(const std::vector<ParameterReplies>& parameters)
{
    boost::lock_guard<boost::mutex> lock(m_state->mutex);
    m_state->parameters = parameters;
}

ByteVec FakeCardProtocol::DefinitionReply(const std::string& name, const std::string& units,
                                          std::uint16_t address, std::uint16_t flags)
{
    ByteVec reply;
    reply.reserve(2 + name.size() + units.size() + 4);
    reply.push_back(static_cast<unsigned char>(name.size()));
    reply.insert(reply.end(), name.begin(), name.end());
    reply.push_back(static_cast<unsigned char>(units.size()));
    reply.insert(reply.end(), units.begin(), units.end());
    Append(reply, Be16(address));
    Append(reply, Be16(flags));
    return reply;
}

ByteVec
FakeCardProtocol::EnumReply(const std::vector<std::pair<std::string, std::uint16_t>>& values)
{
    ByteVec reply;
    for (const auto& v : values) {
        reply.push_back(static_cast<unsigned char>(v.first.size()));
        reply.insert(reply.end(), v.first.begin(), v.first.end());
        Append(reply, Be16(v.second));
    }
    return reply;
}

void FakeCardProtocol::SetHistoricalSamples(IoDirection dir, unsigned index,
                                            const std::vector<float>& samples)
{
    boost::lock_guard<boost::mutex> lock(m_state->mutex);
    m_state->samples[{dir == Input, index}] = samples;
}

std::vector<float> FakeCardProtocol::HistoricalSamples(IoDirection dir, unsigned index) const
{
    boost::lock_guard<boost::mutex> lock(m_state->mutex);
    auto it = m_state->samples.find({dir == Input, index});
    return it == m_state->samples.end() ? std::vector<float>() : it->second;
}

void FakeCardProtocol::SetHistoricalPieceSize(unsigned floats)
{
    boost::lock_guard<boost::mutex> lock(m_state->mutex);
    m_state->samplesPiece = floats;
}
