#pragma once

#include <string>

#include "comms/ExceptionWithString.h"

// What tolvaren-cli reports when it ends, and the exit code of each kind of ending. The texts
// are the window's; these types only carry which exit code they mean.
namespace Cli {

enum ExitCode {
    Done = 0,
    OperationFailed = 1,
    BadArguments = 2,
    NoPort = 3,
    NoReply = 4,
    FileFailed = 5,
    VerifyFailed = 6,
    NotConfirmed = 7,
    Stopped = 130,
};

// An error that ends the program with a given exit code.
class Error : public ExceptionWithString
{
public:
    Error(ExitCode code, const std::string& message) : ExceptionWithString(message), m_code(code) {}
    ExitCode Code() const { return m_code; }

private:
    ExitCode m_code;
};

} // namespace Cli
