#include "simulator/SimulatedCalibBoard.h"

#include <algorithm>

namespace {

// Command codes of the board.
const unsigned char ping = 0;
const unsigned char getVersion = 1;
const unsigned char readEeprom = 2;
const unsigned char writeEeprom = 3;
const unsigned char setConfig = 100;

const unsigned char ack = 0;
// A reply frame holds at most 255 data bytes: echo, status and 253 payload bytes.
const std::size_t maxReplyPayload = 253;

bool IsKnownPath(unsigned char pathCode)
{
    return pathCode == 1 || pathCode == 0x12 || pathCode == 4 || pathCode == 8;
}

unsigned MaxSelection(unsigned char pathCode)
{
    // Voltage and current: none, A or B; resistance: a mask of the four reference resistors.
    return (pathCode == 4 || pathCode == 8) ? 0x0F : 2;
}

void AppendFrame(unsigned char command, unsigned char status, const ByteVec& payload,
                 ByteVec& out)
{
    out.push_back(static_cast<unsigned char>(2 + payload.size()));
    unsigned char sum = static_cast<unsigned char>(command + status);
    out.push_back(command);
    out.push_back(status);
    for (unsigned char b : payload) {
        out.push_back(b);
        sum = static_cast<unsigned char>(sum + b);
    }
    out.push_back(static_cast<unsigned char>(-sum));
}

} // namespace

SimulatedCalibBoard::SimulatedCalibBoard()
{
    m_eeprom.fill(0xFF);
}

ByteVec SimulatedCalibBoard::Receive(const unsigned char* bytes, std::size_t count)
{
    ByteVec reply;
    bool routingChanged = false;
    std::function<void()> observer;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.insert(m_pending.end(), bytes, bytes + count);
        std::size_t start = 0;
        while (start < m_pending.size()) {
            const std::size_t length = m_pending[start];
            if (length == 0) {
                ++start;
                continue;
            }
            if (m_pending.size() - start < length + 2)
                break; // the rest of the frame is still on its way
            const auto first = m_pending.begin() + long(start) + 1;
            const ByteVec data(first, first + long(length));
            unsigned char sum = m_pending[start + 1 + length];
            for (unsigned char b : data)
                sum = static_cast<unsigned char>(sum + b);
            start += length + 2;
            if (sum != 0) {
                ++m_checksumFailures;
                continue;
            }
            Answer(data, reply, routingChanged);
        }
        m_pending.erase(m_pending.begin(), m_pending.begin() + long(start));
        if (routingChanged)
            observer = m_routingObserver;
    }
    if (observer)
        observer();
    return reply;
}

void SimulatedCalibBoard::DropPartialFrame()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.clear();
}

void SimulatedCalibBoard::Answer(const ByteVec& data, ByteVec& reply, bool& routingChanged)
{
    const unsigned char command = data[0];
    ByteVec payload;
    unsigned char status = ack;
    switch (command) {
    case ping:
        break;
    case getVersion:
        payload.push_back(m_version);
        break;
    case readEeprom:
        if (data.size() != 2 || data[1] >= EepromSize) {
            status = NakBadRequest;
        } else {
            const std::size_t count = std::min(EepromSize - data[1], maxReplyPayload);
            payload.assign(m_eeprom.begin() + data[1], m_eeprom.begin() + data[1] + count);
        }
        break;
    case writeEeprom:
        // Nothing is written unless all of it fits.
        if (data.size() < 2 || data[1] + (data.size() - 2) > EepromSize)
            status = NakBadRequest;
        else if (!m_ignoreEepromWrites)
            std::copy(data.begin() + 2, data.end(), m_eeprom.begin() + data[1]);
        break;
    case setConfig:
        status = SetConfig(data, routingChanged);
        break;
    default:
        status = NakUnknownCommand;
        break;
    }
    AppendFrame(command, status, payload, reply);
}

unsigned char SimulatedCalibBoard::SetConfig(const ByteVec& data, bool& routingChanged)
{
    if (data.size() != 4)
        return NakBadRequest;
    const unsigned input = data[1];
    const unsigned char pathCode = data[2];
    const unsigned char selection = data[3];
    if (input >= InputCount || !IsKnownPath(pathCode) || selection > MaxSelection(pathCode))
        return NakBadRequest;
    // One input gets the reference, every other one is left with no jumpers.
    std::array<CalibBoardRoute, InputCount> routes{};
    routes[input].pathCode = pathCode;
    routes[input].selection = selection;
    for (unsigned i = 0; i < InputCount; ++i) {
        if (routes[i].pathCode != m_routes[i].pathCode ||
            routes[i].selection != m_routes[i].selection)
            routingChanged = true;
    }
    m_routes = routes;
    return ack;
}

void SimulatedCalibBoard::SetVersion(unsigned char version)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_version = version;
}

ByteVec SimulatedCalibBoard::Eeprom() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return ByteVec(m_eeprom.begin(), m_eeprom.end());
}

void SimulatedCalibBoard::SetEeprom(std::size_t offset, const ByteVec& bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (std::size_t i = 0; i < bytes.size() && offset + i < EepromSize; ++i)
        m_eeprom[offset + i] = bytes[i];
}

void SimulatedCalibBoard::SetIgnoreEepromWrites(bool ignore)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ignoreEepromWrites = ignore;
}

CalibBoardRoute SimulatedCalibBoard::RouteOf(unsigned input) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return input < InputCount ? m_routes[input] : CalibBoardRoute();
}

void SimulatedCalibBoard::SetRoutingObserver(std::function<void()> observer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_routingObserver = std::move(observer);
}

std::size_t SimulatedCalibBoard::ChecksumFailures() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_checksumFailures;
}
