// Parameter definitions and named variables of TolvarenCommsCommon.

#include "protocol/TolvarenCommsCommon.h"

#include <stdexcept>

#include <boost/throw_exception.hpp>

#include "modbus/ModbusErrors.h"
#include "protocol/ProtocolBytes.h"

using namespace Tolvaren;
using ProtocolBytes::AppendU16;
using ProtocolBytes::ReadU16;

namespace {

// Parameter definitions and named variables exist from register-map version 5 on; named
// variables carry packed values from version 8 on (a list of floats before).
const std::uint16_t firstVersionWithParams = 5;
const std::uint16_t firstVersionWithPackedValues = 8;
const unsigned maxCount = 65536;

[[noreturn]] void InvalidDefinition()
{
    boost::throw_exception(Modbus::Error("Invalid response to QEL_GET_PARAMETER_DEFN"));
}

[[noreturn]] void InvalidEnumDefinition()
{
    boost::throw_exception(Modbus::Error("Invalid response to QEL_GET_PARAMETER_ENUM_DEFN"));
}

// name length, name, units length, units, address, flags: nothing more, nothing less.
CardParameter ParseDefinition(const ByteVec& reply)
{
    if (reply.size() < 6) {
        InvalidDefinition();
    }
    const std::size_t nameLength = reply[0];
    if (1 + nameLength + 1 + 4 > reply.size()) {
        InvalidDefinition();
    }
    const std::size_t unitsLength = reply[1 + nameLength];
    if (1 + nameLength + 1 + unitsLength + 4 != reply.size()) {
        InvalidDefinition();
    }
    CardParameter param;
    auto at = reply.begin() + 1;
    param.name.assign(at, at + nameLength);
    at += nameLength + 1;
    param.units.assign(at, at + unitsLength);
    const std::size_t tail = 2 + nameLength + unitsLength;
    param.address = ReadU16(reply, tail);
    param.flags = ReadU16(reply, tail + 2);
    return param;
}

// One or more entries of label length, label, value, filling the reply exactly.
void ParseEnumValues(const ByteVec& reply, std::vector<CardParameter::EnumValue>& values)
{
    if (reply.size() < 3) {
        InvalidEnumDefinition();
    }
    std::size_t at = 0;
    while (at < reply.size()) {
        const std::size_t labelLength = reply[at];
        if (at + 1 + labelLength + 2 > reply.size()) {
            InvalidEnumDefinition();
        }
        const auto label = reply.begin() + at + 1;
        values.emplace_back(std::string(label, label + labelLength),
                            ReadU16(reply, at + 1 + labelLength));
        at += 1 + labelLength + 2;
    }
}

} // namespace

boost::future<CardParamsVec> TolvarenCommsCommon::GetParameterDefinitions()
{
    return m_calls.Call<CardParamsVec>([this] {
        if (RegisterVersionNow() < firstVersionWithParams) {
            boost::throw_exception(FirmwareTooOldError());
        }
        CardParamsVec params;
        for (unsigned i = 0; i < maxCount; ++i) {
            const ByteVec reply =
                Qel(QEL_GET_PARAMETER_DEFN, ProtocolBytes::U16(static_cast<std::uint16_t>(i)))
                    .get();
            if (reply.empty()) {
                break;
            }
            CardParameter param = ParseDefinition(reply);
            if (param.IsEnumerated()) {
                while (param.enumValues.size() < maxCount) {
                    ByteVec args;
                    AppendU16(args, static_cast<std::uint16_t>(i));
                    AppendU16(args, static_cast<std::uint16_t>(param.enumValues.size()));
                    const ByteVec values = Qel(QEL_GET_PARAMETER_ENUM_DEFN, args).get();
                    if (values.empty()) {
                        break;
                    }
                    ParseEnumValues(values, param.enumValues);
                }
                if (param.enumValues.empty()) {
                    boost::throw_exception(Modbus::Error(
                        "an enum type parameter doesn't have any allowed enum values"));
                }
            }
            params.push_back(std::move(param));
        }
        return params;
    });
}

bool TolvarenCommsCommon::AreCardParamsSupported()
{
    if (RegisterVersionNow() < firstVersionWithParams) {
        boost::throw_exception(FirmwareTooOldError());
    }
    return !Qel(QEL_GET_PARAMETER_DEFN, ProtocolBytes::U16(0)).get().empty();
}

CPackedVal TolvarenCommsCommon::ReadNamedVariableNow(const std::string& name)
{
    const std::uint16_t version = RegisterVersionNow();
    return NamedVariableFromReply(version,
                                  Qel(QEL_READ_NAMED_VAR, ByteVec(name.begin(), name.end())).get());
}

CPackedVal TolvarenCommsCommon::NamedVariableFromReply(std::uint16_t version, const ByteVec& reply)
{
    if (version >= firstVersionWithPackedValues) {
        return CPackedVal(reply);
    }
    if (reply.size() % 4 != 0) {
        boost::throw_exception(Modbus::Error("reply data length for floats not multiple of 4"));
    }
    if (reply.empty()) {
        boost::throw_exception(std::out_of_range("named variable reply holds no value"));
    }
    return CPackedVal::FromFloat(ProtocolBytes::ReadFloatBE(reply, 0));
}

boost::future<CPackedVal> TolvarenCommsCommon::ReadNamedVariable(const std::string& name)
{
    const std::uint16_t version = m_cachedRegisterVersion;
    if (version == 0) {
        return m_calls.Call<CPackedVal>([this, name] { return ReadNamedVariableNow(name); });
    }
    // The version is known: one request, decoded as the reply arrives.
    return m_then.ThenInline<CPackedVal, ByteVec>(
        Qel(QEL_READ_NAMED_VAR, ByteVec(name.begin(), name.end())),
        [version](boost::future<ByteVec>& f) { return NamedVariableFromReply(version, f.get()); });
}

boost::future<float> TolvarenCommsCommon::ReadNamedVariableAsFloat(const std::string& name)
{
    const std::uint16_t version = m_cachedRegisterVersion;
    if (version == 0) {
        return m_calls.Call<float>([this, name] { return ReadNamedVariableNow(name).AsFloat(); });
    }
    return m_then.ThenInline<float, ByteVec>(
        Qel(QEL_READ_NAMED_VAR, ByteVec(name.begin(), name.end())),
        [version](boost::future<ByteVec>& f) {
            return NamedVariableFromReply(version, f.get()).AsFloat();
        });
}

boost::future<void> TolvarenCommsCommon::WriteNamedVariable(const std::string& name,
                                                            const CPackedVal& value)
{
    return m_calls.Call<void>([this, name, value] {
        // The name's length travels in one byte: a longer name would be cut and its tail taken
        // for the value.
        if (name.size() > 255)
            boost::throw_exception(ExceptionWithString("variable name is too long"));
        ByteVec args;
        args.reserve(1 + name.size() + value.Bytes().size());
        args.push_back(static_cast<unsigned char>(name.size()));
        args.insert(args.end(), name.begin(), name.end());
        if (RegisterVersionNow() >= firstVersionWithPackedValues) {
            for (unsigned char b : value.Bytes()) {
                args.push_back(b);
            }
        } else {
            ProtocolBytes::AppendFloatBE(args, value.AsFloat());
        }
        Qel(QEL_WRITE_NAMED_VAR, args).get();
    });
}
