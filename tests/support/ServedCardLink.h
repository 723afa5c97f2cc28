#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "comms/AutoReconnectSerialComms.h"
#include "modbus/ModbusMasterDatalink.h"
#include "tests/support/ChildProcess.h"

// tolvaren-sim started as a user starts it, and the tool's own serial stack on the port it
// serves (COM300 through TOLVAREN_EXTRA_SERIAL_PORTS): the comms and a datalink, ready once the
// card has answered. An optional interface between the port and the datalink sees every byte.
//
// Threads: construct and destroy on one thread; the datalink is the tool's, usable from any.
class ServedCardLink : private IAutoReconnectSerialCommsFeedback
{
public:
    // program: the path of tolvaren-sim; ProgramBeside() finds it in this build tree. Throws
    // std::runtime_error when it serves no port or the card does not answer.
    ServedCardLink(const std::string& program, const std::vector<std::string>& options = {});
    ~ServedCardLink();

    // Puts tap between the port and a new datalink: tap wraps the port it is given.
    template <class Tap> Tap& InsertTap()
    {
        auto* tap = new Tap(*m_comms);
        m_tap.reset(tap);
        m_datalink.reset(new ModbusMasterDatalink(tap));
        return *tap;
    }

    ModbusMasterDatalink& Datalink() { return *m_datalink; }
    ChildProcess& Process() { return *m_process; }
    AutoReconnectSerialComms& Comms() { return *m_comms; }

    // The comms' reports since construction: how often the port went down (and the last
    // reason given) and came up (the first opening included).
    struct PortReports
    {
        int ups = 0;
        int downs = 0;
        std::string lastDownReason;
    };
    PortReports Reports() const;
    // Waits until the reports satisfy condition; false when the bound passed first.
    bool WaitForReports(const std::function<bool(const PortReports&)>& condition,
                        std::chrono::milliseconds bound = std::chrono::seconds(10));

    // tolvaren-sim of the build tree that holds the running program (bench/ or tests/<layer>/).
    static std::string ProgramBeside();

private:
    // Comms threads, with the comms' lock held: only record and wake.
    void OnCommsUp(int port) override;
    void OnCommsDown(int port, const std::string& reason) override;

    mutable std::mutex m_reportsMutex;
    std::condition_variable m_reportsChanged;
    PortReports m_reports;
    std::unique_ptr<ChildProcess> m_process;
    std::unique_ptr<AutoReconnectSerialComms> m_comms;
    std::unique_ptr<ICommsInterface> m_tap;
    std::unique_ptr<ModbusMasterDatalink> m_datalink;
};
