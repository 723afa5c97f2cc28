#include "protocol/TolvarenSnapshotGatherer.h"

#include <stdexcept>

#include <climits>
#include <cmath>

#include <boost/chrono.hpp>
#include <boost/exception_ptr.hpp>
#include <boost/make_shared.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/lock_types.hpp>
#include <boost/throw_exception.hpp>

#include "modbus/ModbusErrors.h"
#include "protocol/TolvarenCommsCommon.h"

using namespace Tolvaren;

namespace {

const int deviceWithoutPoints = 5;
const int inputCard = 1;
const int outputCard = 2;

// Truncation toward zero of a value read from the card. Values outside int (or not a number)
// would make the conversion undefined; they are clamped (not a number reads as 0).
int TruncateToInt(float value)
{
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= static_cast<float>(INT_MAX)) {
        return INT_MAX;
    }
    if (value <= static_cast<float>(INT_MIN)) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}

template <class T, class U> std::vector<T> Converted(const std::vector<U>& values)
{
    return std::vector<T>(values.begin(), values.end());
}

} // namespace

TolvarenSnapshotGatherer::TolvarenSnapshotGatherer(ModbusMasterDatalink& datalink)
    : m_datalink(datalink)
{
}

TolvarenSnapshotGatherer::~TolvarenSnapshotGatherer()
{
    {
        boost::lock_guard<boost::mutex> lock(m_jobMutex);
        m_stopping = true;
    }
    m_jobChanged.notify_all();
    // A gathering already asked for (running or still queued) is finished first.
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

void TolvarenSnapshotGatherer::SetGatheringOccurringCallback(boost::function<void()> callback)
{
    m_gatheringOccurringCallback = std::move(callback);
}

void TolvarenSnapshotGatherer::SetProgressCallback(
    boost::function<void(unsigned done, unsigned expected)> callback)
{
    m_progressCallback = std::move(callback);
}

boost::future<void> TolvarenSnapshotGatherer::RefreshSnapshot()
{
    boost::unique_lock<boost::mutex> lock(m_jobMutex);
    if (m_busy && !m_jobChanged.wait_for(lock, boost::chrono::milliseconds(100),
                                         [this] { return !m_busy; })) {
        boost::throw_exception(ExceptionWithString("RefreshSnapshot() already occurring"));
    }
    auto promise = std::make_shared<boost::promise<void>>();
    boost::future<void> result = promise->get_future();
    if (!m_workerRunning) {
        // First gathering, or the worker was interrupted: it has left its loop already.
        if (m_worker.joinable()) {
            m_worker.join();
        }
        m_worker = boost::thread([this] { WorkerLoop(); });
        m_workerRunning = true;
    }
    m_job = std::move(promise);
    m_busy = true;
    lock.unlock();
    m_jobChanged.notify_all();
    return result;
}

void TolvarenSnapshotGatherer::WorkerLoop()
{
    try {
        for (;;) {
            std::shared_ptr<boost::promise<void>> job;
            {
                boost::unique_lock<boost::mutex> lock(m_jobMutex);
                while (!m_job && !m_stopping) {
                    m_jobChanged.wait(lock);
                }
                if (!m_job) {
                    m_workerRunning = false;
                    return;
                }
                job.swap(m_job);
            }
            Gather(*job);
            {
                boost::lock_guard<boost::mutex> lock(m_jobMutex);
                m_busy = false;
            }
            m_jobChanged.notify_all();
        }
    } catch (const boost::thread_interrupted&) {
        // The gathering's promise has gone unsatisfied (broken promise for its waiter). The next
        // RefreshSnapshot starts a new worker.
        {
            boost::lock_guard<boost::mutex> lock(m_jobMutex);
            m_job.reset();
            m_busy = false;
            m_workerRunning = false;
        }
        m_jobChanged.notify_all();
        throw;
    }
}

void TolvarenSnapshotGatherer::Gather(boost::promise<void>& promise)
{
    try {
        {
            // Lives for this gathering only; its own workers are joined before the promise is
            // satisfied.
            TolvarenCommsCommon comms(m_datalink);
            if (m_snapshot.cardType == 0) {
                GatherFull(comms);
            } else {
                m_snapshot.fullGathering = false;
            }
            if (m_snapshot.cardType != deviceWithoutPoints) {
                GatherIncremental(comms);
            }
        }
        promise.set_value();
    } catch (const boost::thread_interrupted&) {
        throw;
    } catch (...) {
        promise.set_exception(boost::current_exception());
    }
}

void TolvarenSnapshotGatherer::GatherFull(TolvarenCommsCommon& comms)
{
    TolvarenSnapshot& s = m_snapshot;
    s = TolvarenSnapshot();
    s.firmwareVersion = comms.GetFirmwareVersionString().get();

    std::uint16_t version = 0;
    try {
        version = comms.GetRegisterVersion().get();
    } catch (const Modbus::Error& e) {
        if (e.Kind() == Modbus::ExceptionReply) {
            boost::throw_exception(FirmwareTooOldError());
        }
        throw;
    }
    s.registerVersion = version;
    if (version < 2) {
        boost::throw_exception(FirmwareTooOldError());
    }
    if (version > 10) {
        boost::throw_exception(FirmwareTooNewError());
    }
    const int cardType = comms.GetCardType(true).get();
    if (m_gatheringOccurringCallback) {
        m_gatheringOccurringCallback();
    }
    s.serialNumber = comms.ReadSingleRegister(false, TolvarenCommsCommon::regSerialNumber).get();
    s.hardwareRevision =
        comms.ReadSingleRegister(false, TolvarenCommsCommon::regHardwareRevision).get();
    if (cardType == deviceWithoutPoints) {
        s.trafficLogSupported = true;
        s.cardType = deviceWithoutPoints;
        s.fullGathering = true;
        return;
    }

    s.nodeAddress =
        comms.ReadSingleRegister(false, TolvarenCommsCommon::regControllerAddress).get();
    s.numInputs = comms.GetNumInputs().get();
    s.numOutputs = comms.GetNumOutputs().get();
    for (IoDirection dir : {Input, Output}) {
        const unsigned n = dir == Input ? s.numInputs : s.numOutputs;
        (dir == Input ? s.inputLabels : s.outputLabels).assign(n, std::string());
        (dir == Input ? s.inputOffsets : s.outputOffsets).assign(n, 0.0f);
        (dir == Input ? s.inputProfileIds : s.outputProfileIds).assign(n, 0);
        (dir == Input ? s.inputLowerLimits : s.outputLowerLimits).assign(n, 0);
        (dir == Input ? s.inputUpperLimits : s.outputUpperLimits).assign(n, 0);
        (dir == Input ? s.inputPartNumbers : s.outputPartNumbers).assign(n, std::string());
        (dir == Input ? s.inputDates : s.outputDates).assign(n, Date());
        (dir == Input ? s.inputNotes : s.outputNotes).assign(n, std::string());
    }

    s.notesSupported = comms.AreIoPointNotesSupported().get();
    // A point costs a label read, then a part number and a date, then a note of at least two
    // requests; a profile one name read (and a code read for the few that have a name).
    const unsigned perPoint = 1 + (version > 5 ? 2 + (s.notesSupported ? 2 : 0) : 0);
    const unsigned expected =
        (s.numInputs + s.numOutputs) * perPoint + TolvarenScaling::numProfileIds;
    unsigned done = 0;
    auto progress = [&](unsigned step) {
        done += step;
        if (m_progressCallback) {
            m_progressCallback(done, expected);
        }
    };
    for (IoDirection dir : {Input, Output}) {
        const unsigned n = dir == Input ? s.numInputs : s.numOutputs;
        for (unsigned i = 0; i < n; ++i) {
            (dir == Input ? s.inputLabels : s.outputLabels)[i] = comms.GetLabel(dir, i).get();
            if (version > 5) {
                (dir == Input ? s.inputPartNumbers : s.outputPartNumbers)[i] =
                    comms.GetPartNumber(dir, i).get();
                (dir == Input ? s.inputDates : s.outputDates)[i] =
                    comms.GetCalibrationDate(dir, i).get();
                if (s.notesSupported) {
                    // Several requests: read here rather than on a thread of the comms object.
                    (dir == Input ? s.inputNotes : s.outputNotes)[i] = comms.IoNoteNow(dir, i);
                }
            }
            progress(perPoint);
        }
    }

    auto profiles = boost::make_shared<std::map<int, TolvarenScalingProfile>>();
    for (unsigned p = 0; p < TolvarenScaling::numProfileIds; ++p) {
        std::string name = comms.GetScalingProfileName(p).get();
        if (!name.empty()) {
            std::string code = comms.GetScalingProfileCode(p).get();
            (*profiles)[p] = TolvarenScalingProfile(std::move(name), std::move(code));
        }
        progress(1);
    }
    (*profiles)[TolvarenScaling::digitalProfileId] = TolvarenScalingProfile("Digital", "");
    s.scalingProfiles = profiles;

    if (version > 5) {
        s.inputOffsets = comms.GetOffsets(Input).get();
        s.outputOffsets = comms.GetOffsets(Output).get();
    }
    s.inputProfileIds = Converted<std::uint16_t>(comms.GetScalingProfileIds(Input).get());
    s.outputProfileIds = Converted<std::uint16_t>(comms.GetScalingProfileIds(Output).get());
    s.inputLowerLimits = Converted<std::int16_t>(comms.GetLowerLimits(Input).get());
    s.inputUpperLimits = Converted<std::int16_t>(comms.GetUpperLimits(Input).get());
    s.outputLowerLimits = Converted<std::int16_t>(comms.GetLowerLimits(Output).get());
    s.outputUpperLimits = Converted<std::int16_t>(comms.GetUpperLimits(Output).get());

    if (version > 4) {
        // Optional: a card without these keeps the defaults.
        try {
            s.numControlModules =
                TruncateToInt(comms.ReadNamedVariableAsFloat("~NumControlModules").get());
        } catch (const Modbus::Error&) {
        } catch (const std::out_of_range&) {
            // A card before map version 8 may answer with an empty float list: it has no
            // control modules, and that must not stop the card face from appearing.
        }
        try {
            comms.GetTrafficLogChunk(false).get();
            s.trafficLogSupported = true;
        } catch (const Modbus::Error&) {
        }
        try {
            s.configText = comms.GetConfigText().get();
        } catch (const Modbus::Error&) {
        }
    }
    s.cardType = comms.GetCardType(true).get();
    s.fullGathering = true;
}

void TolvarenSnapshotGatherer::GatherIncremental(TolvarenCommsCommon& comms)
{
    TolvarenSnapshot& s = m_snapshot;
    const std::uint16_t version = s.registerVersion;
    s.boardVoltage = comms.GetBoardVoltage().get();
    // The bulk reads learn the card type and the register-map version on first use, and an
    // operation that has to learn them first runs on a thread of its own. Learning them here,
    // at the same points, sends the same requests in the same order and lets every bulk read
    // below go out at once.
    comms.GetCardType(true).get();
    s.inputValues = comms.GetValues(Input).get();
    s.outputValues = comms.GetValues(Output).get();
    if (s.cardType == inputCard) {
        s.overrideValues.assign(s.numInputs, 0.0f);
        s.overrideActive.assign(s.numInputs, false);
    } else {
        comms.GetRegisterVersion().get();
        s.overrideValues = comms.GetOverrideValues().get();
        s.overrideActive = comms.GetOverrideActiveFlags().get();
        s.commsDogBusOffDelay =
            comms.ReadSingleRegister(true, TolvarenCommsCommon::regCommsDogBusOffDelay).get();
        s.commsDogOutputsOffDelay =
            comms.ReadSingleRegister(true, TolvarenCommsCommon::regCommsDogOutputsOffDelay).get();
        s.commsDogTriggered =
            comms.ReadSingleBit(false, TolvarenCommsCommon::bitCommsDogTriggered).get();
    }
    s.healthy = comms.ReadSingleBit(false, TolvarenCommsCommon::bitHealthy).get();

    bool statisticsRead = false;
    if (version > 2) {
        s.inputRawValues = Converted<std::uint16_t>(comms.GetRawValues(Input).get());
        s.outputRawValues = Converted<std::uint16_t>(comms.GetRawValues(Output).get());
        s.calibrated =
            comms.ReadSingleRegister(false, TolvarenCommsCommon::regCalibrated).get() == 1;
        if (version > 5 && s.cardType != outputCard) {
            s.longTermLowTime = Converted<std::uint32_t>(comms.GetLongTermLowTimes().get());
            s.longTermHighTime = Converted<std::uint32_t>(comms.GetLongTermHighTimes().get());
            s.longTermPulseCount = Converted<std::uint32_t>(comms.GetLongTermPulseCounts().get());
            statisticsRead = true;
        }
    }
    if (!statisticsRead) {
        s.longTermLowTime.assign(s.numInputs, 0);
        s.longTermHighTime.assign(s.numInputs, 0);
        s.longTermPulseCount.assign(s.numInputs, 0);
    }

    if (version > 8) {
        s.resetOccurred = comms.ReadSingleBit(true, TolvarenCommsCommon::bitResetOccurred).get();
        if (version > 9 && s.numOutputs > 0) {
            s.profiledSafeValues = comms.ReadNamedVariable("ProfiledSafeVals").get().AsFloatArray();
            s.softDogMinutes =
                TruncateToInt(comms.ReadNamedVariable("OutputsToSafeMinutes").get().AsFloat());
        }
    }
}
