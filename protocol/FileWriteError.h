#pragma once

#include <string>

#include "comms/ExceptionWithString.h"

// A file the program writes could not be created or written: "Cannot open file: <name>" or
// "Cannot write to file: <name>". Its own type, so that a caller can tell a failed file from a
// failed card (a restore stops on the first and goes on after the second).
class FileWriteError : public ExceptionWithString
{
public:
    using ExceptionWithString::ExceptionWithString;

    static FileWriteError CannotOpen(const std::string& fileName)
    {
        return FileWriteError("Cannot open file: " + fileName);
    }
    static FileWriteError CannotWrite(const std::string& fileName)
    {
        return FileWriteError("Cannot write to file: " + fileName);
    }
};
