#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "comms/ByteVec.h"
#include "simulator/CardNamedVariables.h"

// The control modules of the simulated card and the parameters that describe them (vendor
// sub-commands 9 and 10): module A "Boiler house" with a parameter of every storage kind and
// flag and a "A_ModuleName" naming it; module B, forty zone parameters and no name of its own;
// module C, a single fan speed. Register, coil and discrete-input values live in the card's own
// tables (read and written there by the ordinary Modbus functions); the named-variable ones
// ("~" + name) live here and are reached through the card's named variables.
//
// Threads: used by the card under its state lock; not thread-safe by itself.
class CardControlModules
{
public:
    static constexpr unsigned numModules = 3;

    // The card's tables, as RememberingSimulator keeps them.
    typedef std::map<std::uint16_t, ByteVec> RegisterMap;
    typedef std::map<std::uint16_t, bool> BitMap;

    struct Parameter
    {
        std::string name;
        std::string units;
        std::uint16_t address = 0;
        std::uint16_t flags = 0;
        std::vector<std::pair<std::string, std::uint16_t>> enumValues;
        // The starting value: a raw register or bit value, a float, or a text.
        double value = 0.0;
        std::string text;
    };

    CardControlModules();

    const std::vector<Parameter>& Parameters() const { return m_parameters; }

    // Puts the starting values into the card's tables and the named-variable parameters (with
    // "~NumControlModules") into its named variables; called once, while the card is built.
    void Install(RegisterMap& holding,
                 RegisterMap& input, BitMap& coils,
                 BitMap& discreteInputs, CardNamedVariables& variables);

    // Moves the measured values (the input-register parameters: temperatures, valve positions)
    // along slow waves about their starting values, as the plant's do; at time 0 each is at its
    // starting value.
    void Refresh(RegisterMap& input, std::int64_t nowMs) const;

    // Sub-command 9: parameter index (2 bytes) -> its definition; empty past the last.
    int HandleDefinition(const ByteVec& arguments, ByteVec& payload) const;
    // Sub-command 10: parameter index and values already read (2 bytes each) -> up to two
    // (label, value) entries; empty once all are read. Exception 2 for a parameter without
    // enumerated values.
    int HandleEnumDefinition(const ByteVec& arguments, ByteVec& payload) const;

private:
    void AddNamedVariable(const Parameter& parameter, CardNamedVariables& variables);

    std::vector<Parameter> m_parameters;
    // Packed values of the named-variable parameters, by variable name ("~" + name).
    std::map<std::string, ByteVec> m_values;
};
