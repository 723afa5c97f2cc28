#include "tests/cli/CliRun.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include <signal.h>

#include <QProcessEnvironment>

#include "comms/SerialCommsThread.h"
#include "modbus/ModbusMasterDatalink.h"
#include "protocol/TolvarenCommsCommon.h"

#include "tests/support/FileSizeLimit.h"

namespace {

const char portLine[] = "TOLVAREN_EXTRA_SERIAL_PORTS=";

QStringList ToArguments(const std::vector<std::string>& arguments)
{
    QStringList list;
    for (const std::string& a : arguments)
        list << QString::fromStdString(a);
    return list;
}

// Applies the file size limit between fork and exec.
class LimitedProcess : public QProcess
{
public:
    explicit LimitedProcess(std::uint64_t fileSizeLimit) : m_fileSizeLimit(fileSizeLimit) {}

protected:
    void setupChildProcess() override
    {
        if (m_fileSizeLimit > 0)
            FileSizeLimit::ApplyInChild(m_fileSizeLimit);
    }

private:
    const std::uint64_t m_fileSizeLimit;
};

} // namespace

CliRun::CliRun() = default;

void CliRun::LimitNextRun(std::uint64_t fileSizeBytes, const std::string& standardOutputFile)
{
    m_fileSizeLimit = fileSizeBytes;
    m_standardOutputFile = standardOutputFile;
}

void CliRun::Start(const std::vector<std::string>& arguments)
{
    m_err.clear();
    m_process = std::make_unique<LimitedProcess>(m_fileSizeLimit);
    if (!m_standardOutputFile.empty())
        m_process->setStandardOutputFile(QString::fromStdString(m_standardOutputFile));
    m_fileSizeLimit = 0;
    m_standardOutputFile.clear();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", m_dataHome.path());
    m_process->setProcessEnvironment(environment);
    m_process->start(TOLVAREN_CLI_PROGRAM, ToArguments(arguments));
    m_process->waitForStarted(10000);
}

CliRun::Result CliRun::Run(const std::vector<std::string>& arguments, const std::string& input,
                           std::chrono::milliseconds bound)
{
    Start(arguments);
    if (!input.empty())
        m_process->write(input.data(), qint64(input.size()));
    m_process->closeWriteChannel();
    return Finish(bound);
}

bool CliRun::WaitForError(const std::string& text, std::chrono::milliseconds bound)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    m_process->closeWriteChannel();
    m_process->setReadChannel(QProcess::StandardError);
    for (;;) {
        m_err += m_process->readAllStandardError().toStdString();
        if (m_err.find(text) != std::string::npos)
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || m_process->state() == QProcess::NotRunning)
            return false;
        m_process->waitForReadyRead(int(std::min<long long>(left.count(), 1000)));
    }
}

void CliRun::Signal(int signal)
{
    ::kill(pid_t(m_process->processId()), signal);
}

CliRun::Result CliRun::Finish(std::chrono::milliseconds bound)
{
    Result result;
    m_process->closeWriteChannel();
    if (m_process->waitForFinished(int(bound.count())) &&
        m_process->exitStatus() == QProcess::NormalExit)
        result.exitCode = m_process->exitCode();
    else if (m_process->state() != QProcess::NotRunning)
        m_process->kill();
    m_process->waitForFinished(10000);
    result.out = m_process->readAllStandardOutput().toStdString();
    result.err = m_err + m_process->readAllStandardError().toStdString();
    return result;
}

std::string CliRun::BackupFolder() const
{
    return m_dataHome.path().toStdString() + "/QEL/TolvarenDiagnostics/ConfigBackups";
}

ServedCard::ServedCard(const std::vector<std::string>& options)
    : m_process(TOLVAREN_SIM_PROGRAM, options)
{
    const auto line = m_process.LineStartingWith(portLine);
    if (line)
        m_path = line->substr(sizeof portLine - 1);
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

void ChangeOverThePort(const std::string& path,
                       const std::function<void(TolvarenCommsCommon& comms)>& changes)
{
    ::setenv("TOLVAREN_EXTRA_SERIAL_PORTS", path.c_str(), 1);
    {
        SerialPortSettings settings;
        settings.port = 300;
        SerialCommsThread port(settings, nullptr);
        ModbusMasterDatalink datalink(&port);
        {
            TolvarenCommsCommon comms(datalink);
            changes(comms);
        }
        datalink.SetCommsInterface(nullptr);
    }
    ::unsetenv("TOLVAREN_EXTRA_SERIAL_PORTS");
}
