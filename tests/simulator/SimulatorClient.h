#pragma once

#include <deque>

#include <boost/chrono/duration.hpp>
#include <boost/optional.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include "comms/ICommsInterface.h"
#include "modbus/ModbusCrc.h"
#include "simulator/SlotGuard.h"

// Test-side master for a simulator: builds request frames and collects what the simulator
// emits, remembering the thread of each emission. The simulator may be delivering a reply on its
// own thread when the client goes; the destructor waits for that delivery to end.
class SimulatorClient
{
public:
    struct Reply
    {
        unsigned char functionCode = 0;
        ByteVec data; // between function code and CRC
    };

    explicit SimulatorClient(ICommsInterface& comms) : m_comms(comms)
    {
        m_connection =
            comms.ConnectDataReceived(m_guard.Guard([this](ByteVec& chunk) { OnData(chunk); }));
    }
    ~SimulatorClient()
    {
        m_connection.disconnect();
        m_guard.Close();
    }

    static ByteVec Frame(unsigned char address, unsigned char functionCode, const ByteVec& data)
    {
        ByteVec frame{address, functionCode};
        frame.insert(frame.end(), data.begin(), data.end());
        AppendModbusCrc(frame);
        return frame;
    }

    // Request data of a register or bit access: start and quantity (or value), big-endian.
    static ByteVec AddressAndCount(unsigned start, unsigned count)
    {
        return ByteVec{static_cast<unsigned char>(start >> 8), static_cast<unsigned char>(start),
                       static_cast<unsigned char>(count >> 8), static_cast<unsigned char>(count)};
    }

    // Request data of a vendor sub-command.
    static ByteVec Vendor(unsigned subCommand, const ByteVec& arguments = ByteVec())
    {
        ByteVec data{static_cast<unsigned char>(2 + arguments.size()),
                     static_cast<unsigned char>(subCommand >> 8),
                     static_cast<unsigned char>(subCommand)};
        data.insert(data.end(), arguments.begin(), arguments.end());
        return data;
    }

    void Send(unsigned char functionCode, const ByteVec& data, unsigned char address = 1)
    {
        m_comms.Transmit(Frame(address, functionCode, data));
    }

    // The next complete frame (chunks joined until the CRC matches), or none after the timeout.
    boost::optional<ByteVec>
    NextFrame(boost::chrono::milliseconds timeout = boost::chrono::seconds(10))
    {
        boost::unique_lock<boost::mutex> lock(m_mutex);
        ByteVec frame;
        while (true) {
            if (!m_changed.wait_for(lock, timeout, [this] { return !m_chunks.empty(); }))
                return boost::none;
            const ByteVec& chunk = m_chunks.front();
            frame.insert(frame.end(), chunk.begin(), chunk.end());
            m_chunks.pop_front();
            if (HasValidModbusCrc(frame.data(), frame.size()))
                return frame;
        }
    }

    // Sends a request and waits for its reply; a missing reply or a bad frame fails the test by
    // returning a reply with function code 0.
    Reply Exchange(unsigned char functionCode, const ByteVec& data)
    {
        Send(functionCode, data);
        return Parse(NextFrame());
    }

    static Reply Parse(const boost::optional<ByteVec>& frame)
    {
        Reply reply;
        if (!frame || frame->size() < 4 || (*frame)[0] != 1)
            return reply;
        reply.functionCode = (*frame)[1];
        reply.data.assign(frame->begin() + 2, frame->end() - 2);
        return reply;
    }

    std::vector<boost::thread::id> EmittingThreads()
    {
        boost::lock_guard<boost::mutex> lock(m_mutex);
        return m_threads;
    }

private:
    void OnData(ByteVec& chunk)
    {
        {
            boost::lock_guard<boost::mutex> lock(m_mutex);
            m_chunks.push_back(chunk);
            m_threads.push_back(boost::this_thread::get_id());
        }
        m_changed.notify_all();
    }

    ICommsInterface& m_comms;
    SlotGuard m_guard;
    boost::signals2::connection m_connection;
    boost::mutex m_mutex;
    boost::condition_variable m_changed;
    std::deque<ByteVec> m_chunks;
    std::vector<boost::thread::id> m_threads;
};

// Exception reply of a request: the function code with bit 7 set and the exception code.
inline bool IsException(const SimulatorClient::Reply& reply, unsigned char functionCode,
                        unsigned char code)
{
    return reply.functionCode == (functionCode | 0x80) && reply.data == ByteVec{code};
}
