#include "modbus/ModbusMasterDatalink.h"

#include <algorithm>
#include <string>
#include <vector>

#include <boost/asio/error.hpp>
#include <boost/bind/bind.hpp>
#include <boost/make_shared.hpp>
#include <boost/throw_exception.hpp>
#include <boost/thread/lock_guard.hpp>

#include "comms/ExceptionWithString.h"
#include "comms/ICommsInterface.h"
#include "comms/OneShotTimer.h"
#include "modbus/ModbusCrc.h"
#include "modbus/ModbusErrors.h"

namespace {

const std::size_t maxDataLength = 252;

template <typename E>
boost::exception_ptr MakeError(const E& error)
{
    try {
        boost::throw_exception(error);
    } catch (...) {
        return boost::current_exception();
    }
}

std::string ExceptionCodeText(unsigned char code)
{
    switch (code) {
    case 1: return "illegal function";
    case 2: return "illegal data address";
    case 3: return "the value requested is not valid";
    case 4: return "device failure";
    case 6: return "device busy";
    default: return "unknown Modbus error";
    }
}

// A line turn-around on RS-485 often leaves a byte or two before the reply. Returns where a
// reply to request starts after such leading bytes, or 0 when there is none. Only a frame that
// passes every check a reply gets (our node, the request's function code or its exception form,
// the length that form needs, the CRC) is taken, and only after a few leading bytes, so that a
// stretch inside a reply still arriving is unlikely to pass for one.
std::size_t ReplyStartAfterNoise(const ByteVec& buffer, const ByteVec& request)
{
    const std::size_t maxLeadingBytes = 8;
    const std::size_t maxFrameLength = maxDataLength + 4;
    const unsigned char address = request[0];
    const unsigned char function = request[1];
    for (std::size_t start = 1; start <= maxLeadingBytes && start + 4 <= buffer.size(); ++start) {
        const std::size_t length = buffer.size() - start;
        if (buffer[start] != address || length > maxFrameLength)
            continue;
        const unsigned char replyFunction = buffer[start + 1];
        const bool plain = replyFunction == function;
        const bool exception = replyFunction == (function | 0x80) && length >= 5;
        if ((plain || exception) && HasValidModbusCrc(buffer.data() + start, length))
            return start;
    }
    return 0;
}

} // namespace

// State that outlives the datalink for as long as a comms emission still holds the slot: the
// lock, and whether the datalink may still be entered.
struct ModbusMasterDatalink::Shared
{
    boost::recursive_mutex mutex;
    ModbusMasterDatalink* owner = nullptr;

    // Comms thread.
    void Deliver(ByteVec& chunk)
    {
        boost::lock_guard<boost::recursive_mutex> lock(mutex);
        if (owner)
            owner->OnDataReceived(chunk);
    }
};

ModbusMasterDatalink::ModbusMasterDatalink(ICommsInterface* comms)
    : m_shared(boost::make_shared<Shared>()), m_timer(new OneShotTimer)
{
    m_shared->owner = this;
    SetCommsInterface(comms);
}

ModbusMasterDatalink::~ModbusMasterDatalink()
{
    std::list<RequestPtr> dropped;
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_shared->mutex);
        m_shared->owner = nullptr;
        m_connection.disconnect();
        m_queue.swap(dropped);
    }
    // Joins the timer thread; a handler already running finds the owner gone and returns.
    m_timer.reset();
    // The promises go here, unfulfilled: waiting futures report a broken promise.
    dropped.clear();
}

void ModbusMasterDatalink::SetCommsInterface(ICommsInterface* comms)
{
    boost::lock_guard<boost::recursive_mutex> lock(m_shared->mutex);
    if (!m_queue.empty())
        boost::throw_exception(
            ExceptionWithString("cannot change comms-interface as requests are outstanding"));
    boost::signals2::connection connection;
    if (comms)
        connection = comms->ConnectDataReceived(
            boost::bind(&Shared::Deliver, m_shared, boost::placeholders::_1));
    m_connection.disconnect();
    m_connection = connection;
    m_comms = comms;
    m_receiveBuffer.clear();
}

ICommsInterface* ModbusMasterDatalink::GetCommsInterface() const
{
    boost::lock_guard<boost::recursive_mutex> lock(m_shared->mutex);
    return m_comms;
}

unsigned char ModbusMasterDatalink::GetNodeAddress() const
{
    boost::lock_guard<boost::recursive_mutex> lock(m_shared->mutex);
    return m_nodeAddress;
}

void ModbusMasterDatalink::SetNodeAddress(unsigned char address)
{
    boost::lock_guard<boost::recursive_mutex> lock(m_shared->mutex);
    m_nodeAddress = address;
}

unsigned ModbusMasterDatalink::GetReplyTimeoutMs() const
{
    boost::lock_guard<boost::recursive_mutex> lock(m_shared->mutex);
    return m_replyTimeoutMs;
}

void ModbusMasterDatalink::SetReplyTimeoutMs(unsigned milliseconds)
{
    boost::lock_guard<boost::recursive_mutex> lock(m_shared->mutex);
    m_replyTimeoutMs = milliseconds;
}

template <typename T>
boost::future<T>
ModbusMasterDatalink::SendRequest(unsigned char functionCode, const ByteVec& data,
                                  const boost::function<T(const ByteVec&)>& parseReply,
                                  RequestHandle* handle)
{
    boost::lock_guard<boost::recursive_mutex> lock(m_shared->mutex);
    if (data.size() > maxDataLength)
        boost::throw_exception(Modbus::Error("Message data length too long"));

    auto promise = boost::make_shared<boost::promise<T>>();
    auto request = boost::make_shared<Request>();
    if (handle)
        *handle = request;

    request->frame.reserve(data.size() + 4);
    request->frame.push_back(m_nodeAddress);
    request->frame.push_back(functionCode);
    request->frame.insert(request->frame.end(), data.begin(), data.end());
    AppendModbusCrc(request->frame);

    request->completion = boost::bind(&ModbusMasterDatalink::CompleteRequest<T>, this, promise,
                                      parseReply, boost::placeholders::_1,
                                      boost::placeholders::_2);

    boost::future<T> future = promise->get_future();
    const bool wasIdle = m_queue.empty();
    m_queue.push_back(request);
    if (wasIdle)
        SendNextRequest();
    return future;
}

namespace {

template <typename T>
void SetParsedValue(boost::promise<T>& promise, const boost::function<T(const ByteVec&)>& parse,
                    const ByteVec& replyData)
{
    promise.set_value(parse(replyData));
}

void SetParsedValue(boost::promise<void>& promise,
                    const boost::function<void(const ByteVec&)>& parse, const ByteVec& replyData)
{
    parse(replyData);
    promise.set_value();
}

} // namespace

template <typename T>
void ModbusMasterDatalink::CompleteRequest(const boost::shared_ptr<boost::promise<T>>& promise,
                                           const boost::function<T(const ByteVec&)>& parseReply,
                                           const ByteVec& replyData, boost::exception_ptr error)
{
    if (error)
        promise->set_exception(error);
    else
        SetParsedValue(*promise, parseReply, replyData);
}

void ModbusMasterDatalink::CancelRequest(RequestHandle handle)
{
    boost::lock_guard<boost::recursive_mutex> lock(m_shared->mutex);
    RequestPtr request = handle.lock();
    if (!request || m_queue.empty())
        return;
    if (m_queue.front() == request)
        request->cancelled = true;
    else
        m_queue.remove(request);
}

void ModbusMasterDatalink::StartReplyTimer()
{
    m_deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_replyTimeoutMs);
    m_awaitingReply = true;
    // A wait that ends before the new deadline is left running: its handler finds time left and
    // waits on. Only a later one (the time-out was shortened) is replaced.
    if (!m_timerArmed || m_timerExpiry > m_deadline)
        ArmTimer(m_deadline);
}

void ModbusMasterDatalink::ArmTimer(std::chrono::steady_clock::time_point expiry)
{
    const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(
        expiry - std::chrono::steady_clock::now());
    ++m_waitId;
    m_timerArmed = true;
    m_timerExpiry = expiry;
    m_timer->Start(boost::bind(&ModbusMasterDatalink::OnReplyTimer, this,
                               boost::placeholders::_1, m_waitId),
                   static_cast<unsigned>(std::max<long long>(0, remaining.count())));
}

bool ModbusMasterDatalink::LineSettling()
{
    if (!m_settling)
        return false;
    const auto now = std::chrono::steady_clock::now();
    if (now >= m_quietUntil || now >= m_settleCap) {
        m_settling = false;
        return false;
    }
    const auto until = std::min(m_quietUntil, m_settleCap);
    if (!m_timerArmed || m_timerExpiry > until)
        ArmTimer(until);
    return true;
}

void ModbusMasterDatalink::SendNextRequest()
{
    m_receiveBuffer.clear();
    if (m_queue.empty() || LineSettling())
        return;
    while (!m_queue.empty()) {
        RequestPtr head = m_queue.front();
        boost::exception_ptr error;
        try {
            if (!m_comms)
                boost::throw_exception(ExceptionWithString("no comms-interface to send on"));
            m_comms->Transmit(head->frame);
            StartReplyTimer();
            return;
        } catch (...) {
            error = boost::current_exception();
        }
        // This request failed before it was on the wire. The ones behind it are sent in turn
        // rather than left waiting for a reply that no one asked for.
        m_awaitingReply = false;
        if (!head->cancelled)
            head->completion(ByteVec(), error);
        // Completed while still queued, so that a continuation issuing a new request only
        // appends it instead of sending it from underneath this loop.
        if (!m_queue.empty() && m_queue.front() == head)
            m_queue.pop_front();
    }
}

void ModbusMasterDatalink::FinishHead(const ByteVec& replyData, boost::exception_ptr error)
{
    RequestPtr head = m_queue.front();
    if (!head->cancelled)
        head->completion(replyData, error);
    if (!m_queue.empty() && m_queue.front() == head)
        m_queue.pop_front();
    SendNextRequest();
}

void ModbusMasterDatalink::OnDataReceived(ByteVec& chunk)
{
    if (m_settling) {
        // A straggler from before the time-out: not anyone's reply, and the line is not quiet.
        m_quietUntil = std::chrono::steady_clock::now() + m_settleFor;
        return;
    }
    if (m_queue.empty())
        return;
    m_receiveBuffer.insert(m_receiveBuffer.end(), chunk.begin(), chunk.end());
    RequestPtr head = m_queue.front();
    std::size_t start = 0;
    if (!HasValidModbusCrc(m_receiveBuffer.data(), m_receiveBuffer.size())) {
        start = ReplyStartAfterNoise(m_receiveBuffer, head->frame);
        if (start == 0)
            return;
    }

    // The reply is complete: its deadline no longer counts (the wait itself is left to expire).
    m_awaitingReply = false;
    if (head->cancelled) {
        FinishHead(ByteVec(), boost::exception_ptr());
        return;
    }

    // The stray bytes stay in the buffer until the reply is taken: should the parser want more,
    // the next chunk is searched again from the start.
    ByteVec trimmed;
    if (start != 0)
        trimmed.assign(m_receiveBuffer.begin() + start, m_receiveBuffer.end());
    const ByteVec& reply = start != 0 ? trimmed : m_receiveBuffer;
    boost::exception_ptr error;
    try {
        if (reply[0] != head->frame[0])
            boost::throw_exception(Modbus::Error("wrong node replied!"));
        if (reply[1] & 0x80) {
            if (reply.size() <= 4)
                boost::throw_exception(
                    Modbus::Error("node returned an error, with no exception code"));
            const unsigned char code = reply[2];
            std::string message;
            if (reply.size() > 5)
                message.assign(reply.begin() + 3, reply.end() - 2);
            else
                message = "node returned an error: " + ExceptionCodeText(code);
            boost::throw_exception(Modbus::Error(message, Modbus::ExceptionReply, code, reply));
        }
        if (reply[1] != head->frame[1])
            boost::throw_exception(
                Modbus::Error("node's reply does not correspond to the request sent"));

        const ByteVec replyData(reply.begin() + 2, reply.end() - 2);
        head->completion(replyData, boost::exception_ptr());
    } catch (const Modbus::ReplyTooShortError&) {
        // The CRC matched by chance before the real reply ended: keep collecting.
        StartReplyTimer();
        return;
    } catch (...) {
        error = boost::current_exception();
    }

    if (error) {
        FinishHead(ByteVec(), error);
        return;
    }
    if (!m_queue.empty() && m_queue.front() == head)
        m_queue.pop_front();
    SendNextRequest();
}

void ModbusMasterDatalink::OnReplyTimer(const boost::system::error_code& ec,
                                        unsigned long waitId)
{
    boost::lock_guard<boost::recursive_mutex> lock(m_shared->mutex);
    if (!m_shared->owner || waitId != m_waitId)
        return;
    m_timerArmed = false;
    if (ec == boost::asio::error::operation_aborted)
        return;
    if (m_settling && !m_awaitingReply) {
        // The quiet wait after a time-out: send what has queued meanwhile once it is over.
        if (!m_queue.empty())
            SendNextRequest();
        return;
    }
    if (m_queue.empty() || !m_awaitingReply)
        return;
    // The wait may have been started for an exchange that has ended since (and an expiry
    // already queued cannot be taken back): only the deadline of the one on the wire counts.
    if (!ec && std::chrono::steady_clock::now() < m_deadline) {
        ArmTimer(m_deadline);
        return;
    }
    m_awaitingReply = false;

    // Taken out first: continuations of the failed requests that ask again start afresh.
    std::list<RequestPtr> failed;
    failed.swap(m_queue);
    m_receiveBuffer.clear();
    if (!ec) {
        // What arrives from now on may be the reply that just timed out: let the line settle
        // before anyone's request goes out.
        const auto now = std::chrono::steady_clock::now();
        m_settling = true;
        m_settleFor = std::chrono::milliseconds(m_replyTimeoutMs);
        m_quietUntil = now + m_settleFor;
        m_settleCap = now + 3 * m_settleFor;
    }

    if (!ec) {
        for (const RequestPtr& request : failed)
            if (!request->cancelled)
                request->completion(ByteVec(),
                                    MakeError(Modbus::TimeoutError("No reply from node")));
    } else if (!failed.front()->cancelled) {
        failed.front()->completion(ByteVec(), MakeError(Modbus::Error(ec.message())));
    }
}

unsigned long ModbusMasterDatalink::CurrentWaitId() const
{
    boost::lock_guard<boost::recursive_mutex> lock(m_shared->mutex);
    return m_waitId;
}

// The result types the function layer uses.
template boost::future<std::string>
ModbusMasterDatalink::SendRequest<std::string>(unsigned char, const ByteVec&,
                                               const boost::function<std::string(const ByteVec&)>&,
                                               RequestHandle*);
template boost::future<std::vector<bool>> ModbusMasterDatalink::SendRequest<std::vector<bool>>(
    unsigned char, const ByteVec&, const boost::function<std::vector<bool>(const ByteVec&)>&,
    RequestHandle*);
template boost::future<std::vector<float>> ModbusMasterDatalink::SendRequest<std::vector<float>>(
    unsigned char, const ByteVec&, const boost::function<std::vector<float>(const ByteVec&)>&,
    RequestHandle*);
template boost::future<ByteVec>
ModbusMasterDatalink::SendRequest<ByteVec>(unsigned char, const ByteVec&,
                                           const boost::function<ByteVec(const ByteVec&)>&,
                                           RequestHandle*);
template boost::future<std::vector<unsigned int>>
ModbusMasterDatalink::SendRequest<std::vector<unsigned int>>(
    unsigned char, const ByteVec&,
    const boost::function<std::vector<unsigned int>(const ByteVec&)>&, RequestHandle*);
template boost::future<std::vector<short>> ModbusMasterDatalink::SendRequest<std::vector<short>>(
    unsigned char, const ByteVec&, const boost::function<std::vector<short>(const ByteVec&)>&,
    RequestHandle*);
template boost::future<std::vector<unsigned short>>
ModbusMasterDatalink::SendRequest<std::vector<unsigned short>>(
    unsigned char, const ByteVec&,
    const boost::function<std::vector<unsigned short>(const ByteVec&)>&, RequestHandle*);
template boost::future<bool>
ModbusMasterDatalink::SendRequest<bool>(unsigned char, const ByteVec&,
                                        const boost::function<bool(const ByteVec&)>&,
                                        RequestHandle*);
template boost::future<float>
ModbusMasterDatalink::SendRequest<float>(unsigned char, const ByteVec&,
                                         const boost::function<float(const ByteVec&)>&,
                                         RequestHandle*);
template boost::future<unsigned short>
ModbusMasterDatalink::SendRequest<unsigned short>(
    unsigned char, const ByteVec&, const boost::function<unsigned short(const ByteVec&)>&,
    RequestHandle*);
template boost::future<void>
ModbusMasterDatalink::SendRequest<void>(unsigned char, const ByteVec&,
                                        const boost::function<void(const ByteVec&)>&,
                                        RequestHandle*);
