#include "protocol/CardParamsAccessor.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <boost/throw_exception.hpp>

#include "modbus/ModbusErrors.h"

namespace {

[[noreturn]] void Refuse(const char* message)
{
    boost::throw_exception(ExceptionWithString(message));
}

bool EndsWithNoCase(const std::string& text, const std::string& suffix)
{
    if (text.size() < suffix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        const unsigned char a = text[text.size() - suffix.size() + i];
        if (std::tolower(a) != suffix[i]) {
            return false;
        }
    }
    return true;
}

std::string Fixed(double value, int decimals)
{
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

// A value from the card seen as a 16-bit number, for matching enumerated values. Values that no
// 16-bit number represents match nothing.
bool As16Bit(double value, std::uint16_t& result)
{
    if (!std::isfinite(value) || value <= -65536.0 || value >= 65536.0) {
        return false;
    }
    result = static_cast<std::uint16_t>(static_cast<long>(value));
    return true;
}

} // namespace

CardParamsAccessor::CardParamsAccessor(const CardParamsVec& params, ModbusMasterDatalink& datalink)
    : m_params(params), m_comms(datalink)
{
}

// m_calls goes first and waits for a running ReadAllValues, which uses m_comms.
CardParamsAccessor::~CardParamsAccessor() = default;

std::string CardParamsAccessor::ReadValueText(const CardParameter& param)
{
    double value = 0;
    int decimals = 0;
    const std::uint16_t storage = param.Storage();
    if (storage == CardParameter::namedVariableStorage) {
        const CPackedVal packed = m_comms.ReadNamedVariable("~" + param.name).get();
        if (packed.IsString()) {
            return packed.AsString();
        }
        value = packed.AsFloat();
        decimals = EndsWithNoCase(param.name, "pnumber") ? 0 : 1;
    } else {
        std::uint16_t raw = 0;
        switch (storage) {
        case CardParameter::inputRegisterStorage:
            raw = m_comms.ReadSingleRegister(false, param.address).get();
            break;
        case CardParameter::holdingRegisterStorage:
            raw = m_comms.ReadSingleRegister(true, param.address).get();
            break;
        case CardParameter::coilStorage:
            raw = m_comms.ReadSingleBit(true, param.address).get() ? 1 : 0;
            break;
        case CardParameter::discreteInputStorage:
            raw = m_comms.ReadSingleBit(false, param.address).get() ? 1 : 0;
            break;
        default:
            // A storage kind this tool does not know: show that, rather than a made-up 0.
            return "Invalid value";
        }
        value = param.IsUnsigned() ? double(raw) : double(static_cast<std::int16_t>(raw));
        if (!param.IsEnumerated()) {
            const double scale = std::pow(10.0, param.Exponent());
            if (param.Divides()) {
                value /= scale;
                decimals = static_cast<int>(param.Exponent());
            } else {
                value *= scale;
            }
        }
    }
    if (param.IsEnumerated()) {
        std::uint16_t number = 0;
        if (As16Bit(value, number)) {
            for (const CardParameter::EnumValue& e : param.enumValues) {
                if (e.value == number) {
                    return e.label;
                }
            }
        }
        return "Invalid value";
    }
    return Fixed(value, decimals);
}

boost::future<std::vector<std::string>> CardParamsAccessor::ReadAllValues()
{
    return m_calls.Call<std::vector<std::string>>([this] {
        std::vector<std::string> texts;
        for (const CardParameter& param : m_params) {
            try {
                texts.push_back(ReadValueText(param));
            } catch (const Modbus::TimeoutError&) {
                throw;
            } catch (const std::exception& e) {
                boost::throw_exception(ExceptionWithString("error while reading parameter '" +
                                                           param.name + "': " + e.what()));
            }
        }
        return texts;
    });
}

boost::future<void> CardParamsAccessor::SetValue(unsigned index, const std::string& text)
{
    if (index >= m_params.size()) {
        Refuse("param index too big");
    }
    if (text.empty()) {
        Refuse("value cannot be empty");
    }
    const CardParameter& param = m_params[index];
    if (!param.IsWritable()) {
        Refuse("value is read-only");
    }
    const std::uint16_t storage = param.Storage();
    double value = 0;
    if (param.IsEnumerated()) {
        bool found = false;
        for (const CardParameter::EnumValue& e : param.enumValues) {
            if (e.label == text) {
                value = e.value;
                found = true;
                break;
            }
        }
        if (!found) {
            Refuse("value is not one of the allowed enumerated labels");
        }
    } else if (storage != CardParameter::namedVariableStorage) {
        char* end = nullptr;
        value = std::strtod(text.c_str(), &end);
        // Not-a-number and infinities would defeat the range checks below.
        if (end != text.c_str() + text.size() || !std::isfinite(value)) {
            Refuse("value is not a valid number");
        }
    }

    switch (storage) {
    case CardParameter::namedVariableStorage:
        return m_comms.WriteNamedVariable("~" + param.name,
                                          param.IsEnumerated()
                                              ? CPackedVal::FromFloat(static_cast<float>(value))
                                              : CPackedVal::FromString(text));
    case CardParameter::holdingRegisterStorage: {
        if (!param.IsEnumerated()) {
            const double scale = std::pow(10.0, param.Exponent());
            value = param.Divides() ? value * scale : value / scale;
        }
        std::uint16_t raw;
        if (param.IsUnsigned()) {
            if (value < 0) {
                Refuse("value cannot be negative");
            }
            if (value >= 65535.5) {
                Refuse("value is too large");
            }
            raw = static_cast<std::uint16_t>(value + 0.5);
        } else {
            if (value >= 32767.5) {
                Refuse("value is too large");
            }
            if (value <= -32768.5) {
                Refuse("value is too negative");
            }
            const double rounded = value >= 0 ? value + 0.5 : value - 0.5;
            raw = static_cast<std::uint16_t>(static_cast<std::int16_t>(rounded));
        }
        return m_comms.WriteSingleRegister(param.address, raw);
    }
    case CardParameter::coilStorage:
        return m_comms.WriteSingleCoil(param.address, value != 0);
    case CardParameter::inputRegisterStorage:
    case CardParameter::discreteInputStorage:
        Refuse("value is read-only (Modbus Input Register / Discrete Input)");
    default:
        Refuse("value is read-only");
    }
}
