#pragma once

#include <string>
#include <vector>

#include <boost/thread/future.hpp>

#include "async/ScopedAsyncCalls.h"
#include "protocol/CardParameter.h"
#include "protocol/TolvarenCommsCommon.h"

class ModbusMasterDatalink;

// Reads and writes the values of a card's parameters as the texts the user sees, converting
// between raw values and text by each parameter's flags.
//
// Threads: used from the user-interface thread; ReadAllValues runs on the accessor's own worker,
// and the destructor waits for it. The datalink must outlive the accessor.
class CardParamsAccessor
{
public:
    CardParamsAccessor(const CardParamsVec& params, ModbusMasterDatalink& datalink);
    ~CardParamsAccessor();

    const CardParamsVec& Params() const { return m_params; }

    // The display text of every parameter, in order. A time-out ends it with
    // Modbus::TimeoutError; any other error with "error while reading parameter '<name>': ...".
    boost::future<std::vector<std::string>> ReadAllValues();
    // Blocking.
    std::string ReadValueText(const CardParameter& param);
    // Checks the text at once and throws ExceptionWithString for a bad one; the write itself is
    // asynchronous and its future carries only errors of the card access.
    boost::future<void> SetValue(unsigned index, const std::string& text);

private:
    CardParamsVec m_params;
    TolvarenCommsCommon m_comms;
    ScopedAsyncCalls m_calls;
};
