#pragma once

#include <string>
#include <vector>

#include "comms/ExceptionWithString.h"

// The command line of tolvaren-cli: one command, its arguments, and the common options, which
// may stand before or after the command. Plain values; no threads.
struct CliOptions
{
    // Bad arguments; the text says what is wrong (the usage follows it on standard error).
    class UsageError : public ExceptionWithString
    {
    public:
        explicit UsageError(const std::string& message) : ExceptionWithString(message) {}
    };

    std::string command;
    std::vector<std::string> arguments;
    std::string port;    // "COMn", "n" or a device path; empty for the automatic choice
    int nodeAddress = 1; // 1..247
    unsigned timeoutMs = 1000;
    bool json = false;
    bool yes = false;
    bool asText = false; // write-var: send the value as text whatever the variable's type
    // report: an earlier `dump --json` or `report --json` as the "as found" side; 8-day graphs;
    // the PDF's paper, "a4" or "letter".
    std::string asFound;
    bool withGraphs = false;
    std::string paper = "a4";
    bool help = false;   // -h / --help: of the command when one is given
    bool version = false;

    // Throws UsageError for an unknown option or command, a missing or bad value, or the wrong
    // number of arguments for the command. --help and --version skip the argument checks.
    static CliOptions Parse(const std::vector<std::string>& args);

    static std::string Usage();
    // The help of one command; Usage() for an unknown one.
    static std::string CommandUsage(const std::string& command);
    static bool IsCommand(const std::string& command);
};
