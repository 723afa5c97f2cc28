#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "comms/ByteVec.h"
#include "protocol/CPackedVal.h"
#include "protocol/TolvarenTypes.h"
#include "tests/support/FakeCard.h"

// The card-protocol contents of a FakeCard: per-point register blocks at the addresses of the
// card's register-map version, the watchdog items, a profile catalogue, a notes store, parameter
// definitions and enumerations, named variables (packed values from version 8, float lists
// before), the configuration text, the build date and the traffic log.
//
// Everything is installed into the card at construction from Expected(...) contents; tests read
// the same contents back to compare. Threads: the vendor handlers run on the transmitting thread
// under the card's lock; the accessors below take this object's own lock and may be called from
// any thread.
class FakeCardProtocol
{
public:
    // What each point of one direction holds.
    struct Points
    {
        std::vector<std::string> labels, partNumbers;
        std::vector<Tolvaren::Date> dates;
        std::vector<float> values, offsets, overrideValues;
        std::vector<bool> overrideActive;
        std::vector<std::uint16_t> profileIds, rawValues;
        std::vector<std::int16_t> lowerLimits, upperLimits;
        std::vector<std::uint32_t> lowTimes, highTimes, pulseCounts; // inputs only
    };

    // One parameter definition as the card answers it: the sub-command 9 reply and the
    // sub-command 10 replies in the order they are asked for (anything may be malformed).
    struct ParameterReplies
    {
        ByteVec definition;
        std::vector<ByteVec> enumReplies;
    };

    static const unsigned noProfileName = 5; // id 5 is left without a name in the catalogue

    FakeCardProtocol(FakeCard& card, int cardType, std::uint16_t registerVersion);

    const Points& Inputs() const { return m_inputs; }
    const Points& Outputs() const { return m_outputs; }
    // The catalogue as installed: id -> (name, code).
    static const std::map<unsigned, std::pair<std::string, std::string>>& Profiles();

    // Notes. Unsupported notes answer sub-commands 11 to 14 with exception code 1; a full store
    // (more bytes than the capacity over all notes) answers a piece with exception code 3.
    void SetNotesSupported(bool supported);
    void SetNotesCapacity(std::size_t bytes);
    void SetNote(unsigned noteIndex, const std::string& text);
    std::string Note(unsigned noteIndex) const;
    // Notes are read back in pieces of this many bytes.
    void SetNoteReadPieceSize(std::size_t bytes);

    // Named variables, as packed values; read and written in the version's form.
    void SetNamedVariable(const std::string& name, const CPackedVal& value);
    void RemoveNamedVariable(const std::string& name);
    bool HasNamedVariable(const std::string& name) const;
    CPackedVal NamedVariable(const std::string& name) const;
    // Raw argument bytes of every sub-command 20 received.
    std::vector<ByteVec> NamedVariableWrites() const;

    void SetParameters(const std::vector<ParameterReplies>& parameters);
    // A well-formed definition reply.
    static ByteVec DefinitionReply(const std::string& name, const std::string& units,
                                   std::uint16_t address, std::uint16_t flags);
    // A well-formed enumeration reply of (label, value) entries.
    static ByteVec EnumReply(const std::vector<std::pair<std::string, std::uint16_t>>& values);

    // 8-day samples. Sub-command 17 hands a point's samples out from the requested index on, in
    // pieces of at most the piece size (count byte, big-endian floats), and [0] past the last;
    // sub-command 18 erases the point's samples. Points start without samples.
    void SetHistoricalSamples(Tolvaren::IoDirection dir, unsigned index,
                              const std::vector<float>& samples);
    std::vector<float> HistoricalSamples(Tolvaren::IoDirection dir, unsigned index) const;
    void SetHistoricalPieceSize(unsigned floats);

    static const char* ConfigText() { return "DIP 1-4 off, address 1"; }
    static const char* BuildDate() { return "Mar 14 2024 10:20:30"; }

private:
    struct State;

    void InstallPoints(FakeCard& card, Tolvaren::IoDirection dir, const Points& points);
    void InstallHandlers(FakeCard& card);

    int m_cardType;
    std::uint16_t m_version;
    Points m_inputs, m_outputs;
    std::shared_ptr<State> m_state;
};
