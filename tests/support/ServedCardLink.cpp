#include "tests/support/ServedCardLink.h"

#include <cstdlib>
#include <stdexcept>

#include <unistd.h>

#include "modbus/ModbusMaster.h"

namespace {
const char portLine[] = "TOLVAREN_EXTRA_SERIAL_PORTS=";
const unsigned short regRegisterVersion = 65433;
} // namespace

ServedCardLink::ServedCardLink(const std::string& program, const std::vector<std::string>& options)
    : m_process(new ChildProcess(program, options))
{
    const auto line = m_process->LineStartingWith(portLine);
    if (!line)
        throw std::runtime_error("tolvaren-sim served no port");
    ::setenv("TOLVAREN_EXTRA_SERIAL_PORTS", line->substr(sizeof portLine - 1).c_str(), 1);
    SerialPortSettings settings;
    settings.port = 300;
    m_comms.reset(new AutoReconnectSerialComms(this, settings));
    m_datalink.reset(new ModbusMasterDatalink(m_comms.get()));
    // The port opens on the comms' own thread: ask until the card answers.
    ModbusMaster master(*m_datalink);
    for (int attempt = 0;; ++attempt) {
        try {
            master.ReadInputRegister(regRegisterVersion).get();
            break;
        } catch (const std::exception&) {
            if (attempt > 20)
                throw std::runtime_error("the served card does not answer");
        }
    }
}

ServedCardLink::~ServedCardLink()
{
    m_datalink.reset();
    m_tap.reset();
    m_comms.reset();
}

std::string ServedCardLink::ProgramBeside()
{
    char self[4096] = {0};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        throw std::runtime_error("cannot find this program");
    std::string dir(self);
    dir.erase(dir.rfind('/'));
    // bench/<program> or tests/<layer>/<program>: the build tree is one or two levels up.
    for (const char* up : {"/..", "/../.."}) {
        const std::string candidate = dir + up + "/simulator/serve/tolvaren-sim";
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    throw std::runtime_error("tolvaren-sim is not built beside " + dir);
}

ServedCardLink::PortReports ServedCardLink::Reports() const
{
    std::lock_guard<std::mutex> lock(m_reportsMutex);
    return m_reports;
}

bool ServedCardLink::WaitForReports(const std::function<bool(const PortReports&)>& condition,
                                    std::chrono::milliseconds bound)
{
    std::unique_lock<std::mutex> lock(m_reportsMutex);
    return m_reportsChanged.wait_for(lock, bound, [&] { return condition(m_reports); });
}

void ServedCardLink::OnCommsUp(int)
{
    {
        std::lock_guard<std::mutex> lock(m_reportsMutex);
        ++m_reports.ups;
    }
    m_reportsChanged.notify_all();
}

void ServedCardLink::OnCommsDown(int, const std::string& reason)
{
    {
        std::lock_guard<std::mutex> lock(m_reportsMutex);
        ++m_reports.downs;
        m_reports.lastDownReason = reason;
    }
    m_reportsChanged.notify_all();
}
