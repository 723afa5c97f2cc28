#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "comms/ByteVec.h"

// The named variables of the simulated card (vendor sub-commands 19 and 20). Each name has a
// reader that gives its packed value (a tag byte, then the value: 1 float, 2 text, 3 unsigned
// 32-bit, 4 float array; numbers most significant byte first) and, if it may be written, a
// writer that takes one. A name matches only whole (a trailing zero byte is allowed).
//
// Threads: used by the card under its state lock; not thread-safe by itself.
class CardNamedVariables
{
public:
    typedef std::function<ByteVec()> Reader;
    // Takes the packed value written; false refuses it (the card answers exception 3).
    typedef std::function<bool(const ByteVec& packed)> Writer;

    // Adds or replaces a variable; without a writer it is read-only.
    void Add(const std::string& name, Reader reader, Writer writer = Writer());
    // A float variable kept in value, written as a packed float or as the text of a number.
    void AddFloat(const std::string& name, float& value);

    bool Has(const std::string& name) const;

    // Sub-command 19: the name -> the packed value; exception 2 for an unknown name.
    int HandleRead(const ByteVec& arguments, ByteVec& payload) const;
    // Sub-command 20: name length, name, packed value -> empty payload; exception 2 for an
    // unknown name, 3 for a malformed request, a read-only variable or a refused value.
    int HandleWrite(const ByteVec& arguments);

    static ByteVec PackedFloat(float value);
    static ByteVec PackedUInt32(std::uint32_t value);
    static ByteVec PackedFloatArray(const std::vector<float>& values);
    // The float of a packed float (tag 1, exactly 4 bytes); false for anything else.
    static bool UnpackFloat(const ByteVec& packed, float& value);
    // The number of a packed float, or of a packed text (tag 2, at most 40 characters) that is
    // a whole decimal number, as the named-variable window sends it; false for anything else.
    static bool UnpackNumber(const ByteVec& packed, float& value);

private:
    struct Variable
    {
        Reader reader;
        Writer writer;
    };
    const Variable* Find(const ByteVec& name) const;

    std::map<std::string, Variable> m_variables;
};
