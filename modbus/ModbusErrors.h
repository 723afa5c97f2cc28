#pragma once

#include "comms/ByteVec.h"
#include "comms/ExceptionWithString.h"

// Errors of the Modbus master. Always thrown with boost::throw_exception, so that a
// boost::exception_ptr captured from one rethrows the exact type on another thread.
namespace Modbus {

enum ErrorKind {
    GeneralError = 0,   // protocol or local error
    TimeoutErrorKind = 1,
    ExceptionReply = 2, // the node answered with a Modbus exception
};

class Error : public ExceptionWithString
{
public:
    explicit Error(const std::string& message, ErrorKind kind = GeneralError,
                   unsigned char exceptionCode = 0, ByteVec reply = ByteVec())
        : ExceptionWithString(message), m_kind(kind), m_exceptionCode(exceptionCode),
          m_reply(std::move(reply))
    {
    }

    ErrorKind Kind() const { return m_kind; }
    // The code of an exception reply (kind 2), else 0.
    unsigned char ExceptionCode() const { return m_exceptionCode; }
    // For kind 2 the whole received frame, address to CRC; else empty.
    const ByteVec& Reply() const { return m_reply; }
    // True for an exception reply carrying the given code.
    bool IsExceptionReply(unsigned char code) const
    {
        return m_kind == ExceptionReply && m_exceptionCode == code;
    }

private:
    ErrorKind m_kind;
    unsigned char m_exceptionCode;
    ByteVec m_reply;
};

class TimeoutError : public Error
{
public:
    explicit TimeoutError(const std::string& message) : Error(message, TimeoutErrorKind) {}
};

// Thrown by a reply parser given fewer bytes than the reply it expects; the datalink then waits
// for more bytes instead of failing the request.
class ReplyTooShortError : public Error
{
public:
    explicit ReplyTooShortError(const std::string& message) : Error(message, GeneralError) {}
};

} // namespace Modbus
