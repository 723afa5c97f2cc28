#pragma once

#include <cstdint>
#include <vector>

#include <QString>

#include "comms/ByteVec.h"

// One entry of a card's traffic log: a frame the card received or sent, or a bus error.
struct TrafficRecord
{
    unsigned char type = 0;
    unsigned seconds = 0;
    unsigned microseconds = 0;
    ByteVec frame;
};

// Turns the card's traffic-log byte stream into records and the records into the six texts of
// a table row. The stream is the payloads of successive log reads, concatenated; a record may
// be split across reads, so the unparsed tail is kept. Record layout: type (1 byte), time in
// 16 us units (40 bits: 4 little-endian bytes, then bits 32..39), frame length n, n frame bytes.
// Nothing here depends on widgets, and the tail never holds more than one incomplete record.
//
// Threads: one thread at a time (the traffic window's user-interface thread).
class TrafficLogDecoder
{
public:
    enum RecordType {
        FramesMissed = 1,
        Received = 2,
        Sent = 3,
        NoResponse = 4,
        FrameTooLong = 5,
        FrameError = 6
    };
    enum Column { TimeColumn, DeltaColumn, TypeColumn, FrameColumn, SlaveColumn, DescColumn };
    static constexpr int columnCount = 6;
    static constexpr std::size_t headerSize = 7;

    struct Row
    {
        QString cells[columnCount];
    };

    // Appends bytes to the tail and adds every record now complete to records.
    void ParseTrafficRecords(const unsigned char* bytes, std::size_t size,
                             std::vector<TrafficRecord>& records);
    std::size_t TailSize() const { return m_tail.size(); }

    // The row of a record. nowMsOfDay is the local wall-clock time (milliseconds since
    // midnight) used when the card's time has to be anchored anew. Returns true when the card's
    // clock went backwards: the caller shows a "Timer reset" row before this one.
    bool DescribeTrafficRecord(const TrafficRecord& record, std::int64_t nowMsOfDay, Row& row);

    // The description of a received or sent frame. Read requests leave the number of bits they
    // asked for pending, so that the reply that follows can be split into its bits.
    QString DescribeFrame(const ByteVec& frame);

    static QString TypeText(unsigned char type);
    static QString ErrorText(unsigned char type);
    static bool IsErrorType(unsigned char type) { return type != Received && type != Sent; }
    // "HH:mm:ss.zzz" of a time of day in milliseconds (wraps at midnight).
    static QString TimeOfDayText(std::int64_t msOfDay);
    static QString FrameHex(const ByteVec& frame);

private:
    bool TakeRecord(const unsigned char* data, std::size_t size, std::size_t& used,
                    std::vector<TrafficRecord>& records);

    ByteVec m_tail;
    bool m_baseSet = false;
    std::int64_t m_baseWallMs = 0;
    double m_baseCardTime = 0.0;
    double m_lastRecordTime = -1.0;
    // Bits asked for by the last coil or input read request, -1 when none is pending. Kept per
    // log, so that two windows on two cards never mix their requests and replies.
    int m_pendingBits = -1;
};
