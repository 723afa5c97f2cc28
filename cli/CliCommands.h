#pragma once

#include <memory>
#include <string>

#include <QJsonValue>

#include "cli/CliOptions.h"

class CliCardLink;
struct TolvarenSnapshot;
class TolvarenSnapshotGatherer;

// The sub-commands of tolvaren-cli, each built on the operations the window uses (comms/,
// protocol/); results go to standard output (text, or JSON with --json), progress and notes to
// standard error. A failure throws Cli::Error with the window's text and the exit code it means.
//
// Threads: the main thread only; the card is reached through the link's datalink.
class CliCommands
{
public:
    explicit CliCommands(const CliOptions& options);
    ~CliCommands();
    CliCommands(const CliCommands&) = delete;
    CliCommands& operator=(const CliCommands&) = delete;

    void Run();

private:
    void Ports();
    void Identify();
    void Dump();
    void SaveConfig();
    void RestoreConfig();
    void ExportCsv();
    void ImportCsv();
    void Download8Day();
    void Report();
    void ReadVar();
    void WriteVar();

    // Opens the port on first use.
    CliCardLink& Link();
    // A full gathering, as the window makes when it connects. gatherer must outlive the result.
    const TolvarenSnapshot& Gather(TolvarenSnapshotGatherer& gatherer);
    // --yes, or a "y"/"yes" line on standard input; anything else throws Cli::Error NotConfirmed.
    void Confirm(const std::string& question);
    // A JSON result on standard output.
    void PrintJson(const QJsonValue& value);
    // One line on standard output, unless --json.
    void Say(const std::string& line);

    const CliOptions& m_options;
    std::unique_ptr<CliCardLink> m_link;
};
