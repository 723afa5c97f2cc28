#include "simulator/CalibBoardSerialBridge.h"

#include "simulator/SimulatedCalibBoard.h"

namespace {

// A pause after which an unfinished request is dropped: far longer than any gap inside a
// frame, even at 9600 baud through a USB adapter.
const std::chrono::milliseconds staleAfter(100);

} // namespace

CalibBoardSerialBridge::CalibBoardSerialBridge(std::shared_ptr<SimulatedCalibBoard> board,
                                               const SerialPortSettings& settings)
    : m_board(std::move(board)), m_connection(new SerialCommsThread(settings, this))
{
    m_connection->ConnectDataReceived([this](ByteVec& bytes) { OnSerialData(bytes); });
}

CalibBoardSerialBridge::~CalibBoardSerialBridge()
{
    // m_connection, the last member, goes first and joins the I/O thread, the only caller of
    // OnSerialData and OnConnectionError; the board answers on that same thread, so no reply is
    // in flight afterwards. Not reset() here: that clears the pointer before the join, while
    // OnSerialData may still be sending a reply through it.
}

std::string CalibBoardSerialBridge::GetError() const
{
    std::lock_guard<std::mutex> lock(m_errorMutex);
    return m_error;
}

void CalibBoardSerialBridge::OnSerialData(ByteVec& bytes)
{
    // Bytes left over from before a long pause (a request the tool gave up on sending) never
    // join the next request.
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastBytesAt > staleAfter)
        m_board->DropPartialFrame();
    m_lastBytesAt = now;
    const ByteVec reply = m_board->Receive(bytes);
    bytes.clear();
    if (reply.empty())
        return;
    try {
        m_connection->Transmit(reply);
    } catch (const std::exception&) {
        // Send queue full: the tool sees a time-out, as on a noisy line.
    }
}

void CalibBoardSerialBridge::OnConnectionError(CommsConnection*, const std::exception& error)
{
    std::lock_guard<std::mutex> lock(m_errorMutex);
    m_error = error.what();
}
