#include "simulator/SimulatorSerialBridge.h"

#include "modbus/ModbusCrc.h"
#include "simulator/FaultInjector.h"
#include "simulator/ModbusSimulator.h"

namespace {

const std::size_t maxFrameLength = 256; // Modbus RTU ADU
const std::size_t minFrameLength = 4;   // address, function code, CRC
const unsigned char vendorFunction = 100;

// What the bytes from start hold: a whole, CRC-valid frame (its length), the beginning of a
// frame whose length is known but whose bytes have not all arrived, or nothing a frame can
// start with.
struct FrameAt
{
    std::size_t length = 0; // of a whole frame
    bool incomplete = false;
};

FrameAt FindFrameAt(const ByteVec& bytes, std::size_t start)
{
    FrameAt found;
    const std::size_t available = bytes.size() - start;
    if (available < minFrameLength) {
        found.incomplete = true;
        return found;
    }
    const unsigned char* frame = bytes.data() + start;
    std::size_t length = 0;
    switch (frame[1]) {
    case 1: case 2: case 3: case 4: case 5: case 6:
        length = 8; // address, code, two 16-bit fields, CRC
        break;
    case 15: case 16:
        if (available < 7) {
            found.incomplete = true;
            return found;
        }
        length = 9 + frame[6]; // address, code, start, count, byte count, data, CRC
        break;
    case vendorFunction:
        // Address, code, length byte, what it counts (sub-command and arguments), CRC. Trusting
        // the length byte keeps a request that arrives in pieces from ending early at a chance
        // CRC match; a wrong length byte is found by the scan below once enough bytes are in.
        length = 5 + std::size_t(frame[2]);
        if (length > available) {
            found.incomplete = true;
            return found;
        }
        if (HasValidModbusCrc(frame, length)) {
            found.length = length;
            return found;
        }
        // fall through
    default:
        // Functions of variable layout (the vendor function among them): the first length whose
        // CRC matches ends the frame. The CRC grows one byte per length tried: computing it
        // afresh for each would make a line of garbage cost the I/O thread seconds.
        std::uint16_t crc = ModbusCrcUpdate(ModbusCrcUpdate(0xFFFF, frame[0]), frame[1]);
        for (std::size_t n = minFrameLength; n <= std::min(available, maxFrameLength); ++n) {
            if (frame[n - 2] == (crc & 0xFF) && frame[n - 1] == (crc >> 8)) {
                found.length = n;
                return found;
            }
            crc = ModbusCrcUpdate(crc, frame[n - 2]);
        }
        return found;
    }
    if (length > available)
        found.incomplete = true;
    else if (HasValidModbusCrc(frame, length))
        found.length = length;
    return found;
}

// The silence on the line after which the bytes still pending are one whole frame: far longer
// than any gap inside a frame on a busy machine, far shorter than a master's reply time-out.
const std::chrono::milliseconds silence(100);

// What pending holds once the line has been silent: the frame it is when its CRC is valid (a
// length byte that promised more does not matter then), else nothing. Empties pending.
std::vector<ByteVec> TakeFrameEndedBySilence(ByteVec& pending)
{
    std::vector<ByteVec> frames;
    if (pending.size() <= maxFrameLength && HasValidModbusCrc(pending.data(), pending.size()))
        frames.push_back(pending);
    pending.clear();
    return frames;
}

} // namespace

std::vector<ByteVec> SimulatorSerialBridge::TakeRequestFrames(ByteVec& pending)
{
    std::vector<ByteVec> frames;
    for (;;) {
        bool found = false;
        for (std::size_t start = 0; start + minFrameLength <= pending.size(); ++start) {
            const FrameAt frame = FindFrameAt(pending, start);
            if (frame.length != 0) {
                frames.emplace_back(pending.begin() + long(start),
                                    pending.begin() + long(start + frame.length));
                pending.erase(pending.begin(), pending.begin() + long(start + frame.length));
                found = true;
                break;
            }
            // A request still arriving: its own bytes must not be taken for the start of
            // another frame, which a chance CRC match inside its data would otherwise do.
            if (frame.incomplete)
                break;
        }
        if (!found)
            break;
    }
    if (pending.size() > maxFrameLength)
        pending.erase(pending.begin(), pending.end() - long(maxFrameLength));
    return frames;
}

SimulatorSerialBridge::SimulatorSerialBridge(boost::shared_ptr<ModbusSimulator> simulator,
                                             const SerialPortSettings& settings)
    : m_simulator(simulator), m_connection(new SerialCommsThread(settings, this))
{
    m_silenceWatch = std::thread([this] { WatchSilence(); });
    // The connection exists before any reply can look for it.
    m_replySlot =
        m_simulator->ConnectDataReceived(m_replyGuard.Guard([this](ByteVec& frame) {
            OnReply(frame);
        }));
    m_connection->ConnectDataReceived([this](ByteVec& bytes) { OnSerialData(bytes); });
}

SimulatorSerialBridge::SimulatorSerialBridge(boost::shared_ptr<ModbusSimulator> simulator,
                                             const SerialPortSettings& settings,
                                             const Faults& faults)
    : m_simulator(simulator), m_faults(faults), m_connection(new SerialCommsThread(settings, this))
{
    if (m_faults.injector)
        m_sender = std::thread([this] { SendHeld(); });
    m_silenceWatch = std::thread([this] { WatchSilence(); });
    m_replySlot =
        m_simulator->ConnectDataReceived(m_replyGuard.Guard([this](ByteVec& frame) {
            OnReply(frame);
        }));
    m_connection->ConnectDataReceived([this](ByteVec& bytes) { OnSerialData(bytes); });
}

SimulatorSerialBridge::~SimulatorSerialBridge()
{
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        m_stopWatching = true;
    }
    m_pendingChanged.notify_all();
    m_silenceWatch.join();
    // Replies stop first: they go to the connection. Closing the guard waits for a reply that
    // the simulator's thread is handing over right now; disconnecting alone would not.
    m_replySlot.disconnect();
    m_replyGuard.Close();
    if (m_sender.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_heldMutex);
            m_stopSending = true;
        }
        m_heldChanged.notify_all();
        m_sender.join();
    }
    // Joins the I/O thread, the only caller of OnSerialData and OnConnectionError.
    m_connection.reset();
}

std::string SimulatorSerialBridge::GetError() const
{
    std::lock_guard<std::mutex> lock(m_errorMutex);
    return m_error;
}

void SimulatorSerialBridge::OnSerialData(ByteVec& bytes)
{
    std::lock_guard<std::mutex> lock(m_pendingMutex);
    // Silence ends a frame on a Modbus line: bytes left over from before it never join the
    // next request. (The silence thread has judged them by now, unless it is running late.)
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastBytesAt >= silence)
        PassOn(TakeFrameEndedBySilence(m_pending));
    m_lastBytesAt = now;
    m_pending.insert(m_pending.end(), bytes.begin(), bytes.end());
    PassOn(TakeRequestFrames(m_pending));
    if (!m_pending.empty())
        m_pendingChanged.notify_all();
}

// Bytes that framing by length could not end (a length byte promising more than came) are a
// frame once the line has been silent long enough.
void SimulatorSerialBridge::WatchSilence()
{
    std::unique_lock<std::mutex> lock(m_pendingMutex);
    while (!m_stopWatching) {
        if (m_pending.empty()) {
            m_pendingChanged.wait(lock);
            continue;
        }
        const auto endsAt = m_lastBytesAt + silence;
        if (std::chrono::steady_clock::now() < endsAt) {
            m_pendingChanged.wait_until(lock, endsAt);
            continue;
        }
        PassOn(TakeFrameEndedBySilence(m_pending));
    }
}

void SimulatorSerialBridge::PassOn(const std::vector<ByteVec>& requests)
{
    for (const ByteVec& frame : requests) {
        if (m_faults.requestSeen)
            m_faults.requestSeen(frame);
        if (!m_faults.injector) {
            m_simulator->Transmit(frame);
            continue;
        }
        const FaultInjector::RequestAction action = m_faults.injector->OnRequest(frame);
        switch (action.kind) {
        case FaultInjector::RequestAction::Pass:
            m_simulator->Transmit(frame);
            break;
        case FaultInjector::RequestAction::Answer:
            // Behind any reply still held, as the card would send it.
            if (!Hold({{std::chrono::milliseconds(0), action.answer}}))
                SendNow(action.answer);
            break;
        case FaultInjector::RequestAction::HangUp:
            if (m_faults.hangUp)
                m_faults.hangUp(action.hangUpMs);
            break;
        case FaultInjector::RequestAction::Swallow:
            break;
        }
    }
}

void SimulatorSerialBridge::OnReply(ByteVec& frame)
{
    if (!m_faults.injector) {
        SendNow(frame);
        return;
    }
    std::vector<std::pair<std::chrono::milliseconds, ByteVec>> pieces;
    for (FaultInjector::Piece& piece : m_faults.injector->OnReply(frame))
        pieces.emplace_back(piece.delay, std::move(piece.bytes));
    if (!Hold(pieces))
        SendNow(pieces.front().second);
}

void SimulatorSerialBridge::SendNow(const ByteVec& frame)
{
    try {
        m_connection->Transmit(frame);
    } catch (const std::exception&) {
        // Send queue full: the master sees a time-out, as on a noisy line.
    }
}

bool SimulatorSerialBridge::Hold(
    const std::vector<std::pair<std::chrono::milliseconds, ByteVec>>& pieces)
{
    std::lock_guard<std::mutex> lock(m_heldMutex);
    if (m_held.empty() && pieces.size() == 1 && pieces.front().first.count() == 0)
        return false;
    // Held bytes go out by their due time. A late reply holds back nothing behind it: the card
    // answers the requests that follow as usual, and the late frame turns up among them. The
    // pieces of one reply keep their order, and go after anything already due.
    auto due = std::chrono::steady_clock::now();
    for (const auto& piece : pieces) {
        due += piece.first;
        auto at = m_held.begin();
        while (at != m_held.end() && at->due <= due)
            ++at;
        m_held.insert(at, Held{due, piece.second});
    }
    m_heldChanged.notify_all();
    return true;
}

std::size_t SimulatorSerialBridge::HeldPieces() const
{
    std::lock_guard<std::mutex> lock(m_heldMutex);
    return m_held.size();
}

void SimulatorSerialBridge::SendHeld()
{
    std::unique_lock<std::mutex> lock(m_heldMutex);
    while (!m_stopSending) {
        if (m_held.empty()) {
            m_heldChanged.wait(lock);
            continue;
        }
        const auto due = m_held.front().due;
        if (std::chrono::steady_clock::now() < due) {
            m_heldChanged.wait_until(lock, due);
            continue;
        }
        const ByteVec bytes = m_held.front().bytes;
        // Sent before it leaves the queue, so that a reply due now still queues behind it
        // instead of overtaking it.
        SendNow(bytes);
        m_held.pop_front();
    }
}

void SimulatorSerialBridge::OnConnectionError(CommsConnection*, const std::exception& error)
{
    std::lock_guard<std::mutex> lock(m_errorMutex);
    m_error = error.what();
}
