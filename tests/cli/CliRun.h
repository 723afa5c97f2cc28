#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QProcess>
#include <QTemporaryDir>

#include "tests/support/ChildProcess.h"

// tolvaren-cli run as a user runs it: its own standard output and error, its exit code. The
// environment is the test's own (FakeSysfs and the extra ports set there) plus a temporary
// XDG_DATA_HOME, so safety copies never reach the user's folders.
class CliRun
{
public:
    struct Result
    {
        int exitCode = -1; // -1: did not end in time
        std::string out;
        std::string err;
    };

    CliRun();

    // Runs to the end (bounded); input is given on standard input, which is then closed.
    Result Run(const std::vector<std::string>& arguments, const std::string& input = std::string(),
               std::chrono::milliseconds bound = std::chrono::seconds(60));

    // The next run may not grow a file beyond fileSizeBytes (a full disk: set in the child before
    // it starts, with SIGXFSZ ignored); its standard output goes to standardOutputFile if given.
    void LimitNextRun(std::uint64_t fileSizeBytes, const std::string& standardOutputFile = {});

    // Starts without waiting; standard input is closed.
    void Start(const std::vector<std::string>& arguments);
    // Waits until standard error holds text (bounded); true when it came.
    bool WaitForError(const std::string& text,
                      std::chrono::milliseconds bound = std::chrono::seconds(30));
    void Signal(int signal);
    Result Finish(std::chrono::milliseconds bound = std::chrono::seconds(30));

    // Where the program keeps its safety copies.
    std::string BackupFolder() const;

private:
    QTemporaryDir m_dataHome;
    std::unique_ptr<QProcess> m_process;
    std::string m_err;
    std::uint64_t m_fileSizeLimit = 0;
    std::string m_standardOutputFile;
};

// tolvaren-sim started as a user starts it (not paced unless asked, to keep tests short);
// Path() is the port it serves.
class ServedCard
{
public:
    explicit ServedCard(const std::vector<std::string>& options = {"--no-pacing"});
    const std::string& Path() const { return m_path; }
    ChildProcess& Process() { return m_process; }

private:
    ChildProcess m_process;
    std::string m_path;
};

std::string ReadFileBytes(const std::string& path);
class TolvarenCommsCommon;
// Changes made to the card served on path over the port, as the window makes them (COM300),
// for settings the program has no command for.
void ChangeOverThePort(const std::string& path,
                       const std::function<void(TolvarenCommsCommon& comms)>& changes);
void WriteFileBytes(const std::string& path, const std::string& bytes);
