#include "widgets/TrafficLogDecoder.h"

#include <cmath>

namespace {

const std::int64_t msPerDay = 86400000;

const char* const exceptionTexts[] = {"unknown Modbus error",     "illegal function",
                                      "illegal data address",     "the value requested is not valid",
                                      "device failure",           "unknown Modbus error",
                                      "device busy"};

unsigned Word(const ByteVec& data, std::size_t at)
{
    return (unsigned(data[at]) << 8) | data[at + 1];
}

QString Num(unsigned n)
{
    return QString::number(n);
}

// Bit k of a packed coil list, least significant bit first.
bool Bit(const ByteVec& data, std::size_t first, unsigned k)
{
    return (data[first + k / 8] >> (k % 8)) & 1;
}

QString ExceptionText(unsigned code)
{
    return code < sizeof exceptionTexts / sizeof exceptionTexts[0] ? exceptionTexts[code]
                                                                   : exceptionTexts[0];
}

void PutTwoDigits(QChar* out, unsigned n)
{
    out[0] = QChar('0' + n / 10);
    out[1] = QChar('0' + n % 10);
}

} // namespace

void TrafficLogDecoder::ParseTrafficRecords(const unsigned char* bytes, std::size_t size,
                                            std::vector<TrafficRecord>& records)
{
    m_tail.insert(m_tail.end(), bytes, bytes + size);
    std::size_t used = 0;
    while (TakeRecord(m_tail.data() + used, m_tail.size() - used, used, records)) {
    }
    m_tail.erase(m_tail.begin(), m_tail.begin() + long(used));
}

bool TrafficLogDecoder::TakeRecord(const unsigned char* data, std::size_t size, std::size_t& used,
                                   std::vector<TrafficRecord>& records)
{
    if (size < headerSize)
        return false;
    const std::size_t n = data[6];
    if (size < headerSize + n)
        return false;
    const std::uint64_t units = std::uint64_t(data[1]) | (std::uint64_t(data[2]) << 8) |
                                (std::uint64_t(data[3]) << 16) | (std::uint64_t(data[4]) << 24) |
                                (std::uint64_t(data[5]) << 32);
    const std::uint64_t micros = units * 16;
    TrafficRecord record;
    record.type = data[0];
    record.seconds = static_cast<unsigned>(micros / 1000000);
    record.microseconds = static_cast<unsigned>(micros % 1000000);
    record.frame.assign(data + headerSize, data + headerSize + n);
    records.push_back(std::move(record));
    used += headerSize + n;
    return true;
}

bool TrafficLogDecoder::DescribeTrafficRecord(const TrafficRecord& record,
                                              std::int64_t nowMsOfDay, Row& row)
{
    const double t = record.seconds + record.microseconds / 1000000.0;
    bool timerReset = false;
    if (!m_baseSet || t < m_lastRecordTime) {
        if (m_baseSet) {
            timerReset = true;
            m_lastRecordTime = -1.0;
        }
        m_baseSet = true;
        m_baseWallMs = nowMsOfDay;
        m_baseCardTime = t;
    }
    row.cells[TimeColumn] =
        TimeOfDayText(m_baseWallMs + std::llround((t - m_baseCardTime) * 1000.0));
    row.cells[DeltaColumn] =
        m_lastRecordTime >= 0 ? QString::number(t - m_lastRecordTime, 'f', 3) : QString();
    m_lastRecordTime = t;
    row.cells[TypeColumn] = TypeText(record.type);
    row.cells[FrameColumn] = FrameHex(record.frame);
    const bool error = IsErrorType(record.type);
    row.cells[SlaveColumn] =
        error || record.frame.empty() ? QString() : QString::number(record.frame[0]);
    row.cells[DescColumn] = error ? ErrorText(record.type) : DescribeFrame(record.frame);
    return timerReset;
}

QString TrafficLogDecoder::TypeText(unsigned char type)
{
    switch (type) {
    case Received:
        return QStringLiteral("RX");
    case Sent:
        return QStringLiteral("TX");
    default:
        return QStringLiteral("Err");
    }
}

QString TrafficLogDecoder::ErrorText(unsigned char type)
{
    switch (type) {
    case FramesMissed:
        return QStringLiteral("Frames have been missed");
    case NoResponse:
        return QStringLiteral("Connected card failed to respond to a message");
    case FrameTooLong:
        return QStringLiteral("Frame being received is too long");
    case FrameError:
        return QStringLiteral("An error occurred inside the frame (checksum, timing error, etc)");
    default:
        return QStringLiteral("Unknown error");
    }
}

QString TrafficLogDecoder::TimeOfDayText(std::int64_t msOfDay)
{
    std::int64_t ms = msOfDay % msPerDay;
    if (ms < 0)
        ms += msPerDay;
    QString text(12, QChar(':'));
    QChar* out = text.data();
    PutTwoDigits(out, unsigned(ms / 3600000));
    PutTwoDigits(out + 3, unsigned(ms / 60000 % 60));
    PutTwoDigits(out + 6, unsigned(ms / 1000 % 60));
    out[8] = QChar('.');
    const unsigned milli = unsigned(ms % 1000);
    out[9] = QChar('0' + milli / 100);
    PutTwoDigits(out + 10, milli % 100);
    return text;
}

QString TrafficLogDecoder::FrameHex(const ByteVec& frame)
{
    static const char digits[] = "0123456789abcdef";
    QString text(int(frame.size() * 3), QChar(' '));
    QChar* out = text.data();
    for (unsigned char b : frame) {
        out[0] = QChar(digits[b >> 4]);
        out[1] = QChar(digits[b & 15]);
        out += 3;
    }
    return text;
}

QString TrafficLogDecoder::DescribeFrame(const ByteVec& frame)
{
    if (frame.size() < 4)
        return QStringLiteral("invalid message");
    const unsigned char code = frame[1];
    if (code & 0x80) {
        m_pendingBits = -1;
        return QStringLiteral("Exception reply: ") +
               (frame.size() < 5 ? QStringLiteral("no exception code present")
                                 : ExceptionText(frame[2]));
    }
    const ByteVec data(frame.begin() + 2, frame.end() - 2);
    const std::size_t size = data.size();
    QString text;
    switch (code) {
    case 1:
    case 2: {
        text = code == 1 ? QStringLiteral("ReadCoils ") : QStringLiteral("ReadDiscreteInputs ");
        if (m_pendingBits < 0) {
            if (size != 4)
                return text + QStringLiteral("invalid request data");
            m_pendingBits = int(Word(data, 2));
            return text + "request: starting addr " + Num(Word(data, 0)) + ", " +
                   Num(Word(data, 2)) + (code == 1 ? " coil(s)" : " input(s)");
        }
        const unsigned bits = unsigned(m_pendingBits);
        if (size < 2 || data[0] != size - 1 || data[0] != (bits + 7) / 8)
            return text + QStringLiteral("invalid response data");
        m_pendingBits = -1;
        text += QStringLiteral("reply: values ");
        text.reserve(text.size() + int(bits) * 2);
        for (unsigned k = 0; k < bits; ++k)
            text += Bit(data, 1, k) ? QStringLiteral("1 ") : QStringLiteral("0 ");
        return text;
    }
    case 3:
    case 4:
        text = code == 3 ? QStringLiteral("ReadHoldingRegisters ")
                         : QStringLiteral("ReadInputRegisters ");
        if (size == 4)
            return text + "request: starting addr " + Num(Word(data, 0)) + ", " +
                   Num(Word(data, 2)) + " register(s)";
        if (size % 2 == 1 && size == std::size_t(data[0]) + 1) {
            text += QStringLiteral("reply: values ");
            for (std::size_t at = 1; at + 1 < size; at += 2)
                text += Num(Word(data, at)) + "  ";
            return text;
        }
        return text + QStringLiteral("invalid data");
    case 5:
        text = QStringLiteral("WriteSingleCoil ");
        if (size == 4 && (Word(data, 2) == 0xFF00 || Word(data, 2) == 0))
            return text + "req/reply: coil address " + Num(Word(data, 0)) + " = " +
                   (Word(data, 2) ? "1" : "0");
        return text + QStringLiteral("invalid data");
    case 6:
        text = QStringLiteral("WriteSingleRegister ");
        if (size == 4)
            return text + "req/reply: holding-reg " + Num(Word(data, 0)) + " = " +
                   Num(Word(data, 2));
        return text + QStringLiteral("invalid data");
    case 15: {
        text = QStringLiteral("WriteMultipleCoils ");
        if (size == 4)
            return text + "reply: starting addr " + Num(Word(data, 0)) + ", " +
                   Num(Word(data, 2)) + " coil(s) written";
        if (size > 4) {
            const unsigned start = Word(data, 0);
            const unsigned count = Word(data, 2);
            if (size == (count + 7) / 8 + 5 && size == std::size_t(data[4]) + 5) {
                text += QStringLiteral("request: ");
                for (unsigned k = 0; k < count; ++k) {
                    if (k)
                        text += QStringLiteral(",  ");
                    text += "coil " + Num(start + k) + " = " + (Bit(data, 5, k) ? "1" : "0");
                }
                return text;
            }
        }
        return text + QStringLiteral("invalid data");
    }
    case 16: {
        text = QStringLiteral("WriteMultipleRegisters ");
        if (size == 4)
            return text + "reply: starting addr " + Num(Word(data, 0)) + ", " +
                   Num(Word(data, 2)) + " register(s) written";
        if (size > 4 && size % 2 == 1) {
            const unsigned start = Word(data, 0);
            const unsigned count = Word(data, 2);
            if (size == 2 * std::size_t(count) + 5 && size == std::size_t(data[4]) + 5) {
                text += QStringLiteral("request: ");
                for (unsigned k = 0; k < count; ++k) {
                    if (k)
                        text += QStringLiteral(",  ");
                    text += "reg " + Num(start + k) + " = " + Num(Word(data, 5 + 2 * k));
                }
                return text;
            }
        }
        return text + QStringLiteral("invalid data");
    }
    default:
        return QString();
    }
}
