#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <boost/function.hpp>

#include "simulator/RememberingSimulator.h"

// The simulated card: a "KTV-ROLM-73C6E" (24 inputs, 24 outputs, register-map version 9) with
// labels, a scaling profile catalogue, a notes store, live data, named variables, a traffic log
// and a configuration text, answering the vendor function for the sub-commands the tool uses.
//
// The notes store and the live-data cursors belong to the process, not to one instance: notes
// written to the simulated card are still there when the card is simulated again. They are
// guarded by a lock of their own, so two simulated cards (one per main window) never race on them.
//
// Threads: as RememberingSimulator. SetClock may be called from any thread.
class DEDOCardSimulator : public RememberingSimulator
{
public:
    // Milliseconds since the card (here: the system) started.
    typedef boost::function<std::uint64_t()> Clock;

    struct ScalingProfile
    {
        unsigned id;
        const char* name;
        const char* code;
        int inputKind; // 0 voltage-type, 1 current, 2 low range, 3 high range
    };

    static const unsigned numNotes = 48;
    static const unsigned noteSize = 1024;
    static const std::size_t notesStoreSize = 65536;

    DEDOCardSimulator();

    int HandleRequest(unsigned char functionCode, const ByteVec& requestData,
                      ByteVec& replyData) override;

    // Replaces the time source of live data, named variables and the traffic log (by default the
    // monotonic clock, which counts from system start).
    void SetClock(const Clock& clock);

    // The built-in catalogue; only entries of input kind 0 or 3 are published.
    static const std::vector<ScalingProfile>& ScalingProfileCatalogue();
    // Live-data sample of a 50 ms tick.
    static float LiveSample(std::uint32_t tick);
    // Empties the process-wide notes store and live-data cursors (for tests).
    static void ResetSharedStores();

protected:
    // Empties the notes store and closes any note read or write, as a card's "clear notes" does.
    static void ClearNoteStore();

    // One vendor sub-command: 0 with payload filled, or a Modbus exception code.
    virtual int HandleVendorCommand(std::uint16_t subCommand, const ByteVec& arguments,
                                    ByteVec& payload);

private:
    struct NoteCursor
    {
        unsigned index = 0;
        int position = -1; // -1: no read or write open
    };

    void FillTables();
    std::uint64_t NowMs() const;

    int SelectNoteForReading(const ByteVec& arguments);
    int ReadNoteChunk(const ByteVec& arguments, ByteVec& payload);
    int StartNoteWrite(const ByteVec& arguments);
    int WriteNoteChunk(const ByteVec& arguments);
    int GetLiveData(const ByteVec& arguments, ByteVec& payload);
    int ReadNamedVariable(const ByteVec& arguments, ByteVec& payload);
    int GetTrafficLogChunk(const ByteVec& arguments, ByteVec& payload);

    struct SharedStores;
    static SharedStores& Shared();

    Clock m_clock;
    // These four refer to the process-wide stores; use them only with Shared().mutex held.
    std::vector<unsigned char>& m_notes;
    NoteCursor& m_readCursor;
    NoteCursor& m_writeCursor;
    // (isInput, point index) -> last 50 ms tick delivered, 0 when none yet.
    std::map<std::pair<bool, unsigned>, std::uint32_t>& m_lastLiveTick;
};
