#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "simulator/CardCalibrationStore.h"
#include "simulator/CardConfiguration.h"
#include "simulator/CardControlModules.h"
#include "simulator/CardHistory.h"
#include "simulator/CardModel.h"
#include "simulator/CardNamedVariables.h"
#include "simulator/CardSettings.h"
#include "simulator/CardTrafficLog.h"
#include "simulator/DEDOCardSimulator.h"
#include "simulator/LiveDataFeed.h"
#include "simulator/SimulatedPlant.h"

// A simulated card that answers what a real "KTV-ROLM-73C6E" (24 inputs, 24 outputs) answers
// for at register-map version 10 and firmware 2.10, so that every feature of the tool shows on
// it: inputs and their raw values follow a live plant (see SimulatedPlant) and outputs hold
// what was written (the raw output register and the value move together, an active override
// drives the output); every point has its 8-day data, live data, long-term statistics of its
// digital reading, a part number and limits; safe values, the SoftDog delay and the other named
// variables are read and written; the configuration data carry the card's settings (labels,
// limits and the rest, CardSettings) and a restore sets them, the EE memory keeps them and a
// Control Module block, the notes are cleared on request, and a restart request is obeyed
// without a reply and reloads the settings from EE (after the service wipe: the defaults), as a
// card does; the traffic log holds the frames the card
// really received and sent; the configuration text describes its dip switches; three control
// modules list their parameters (CardControlModules); notes are DEDOCardSimulator's.
//
// Built for another CardModel it is that card (a Tolvaren Input or Output Card, an older
// register map, another hardware revision or serial number) with the same features, so the tool
// works on the cards of a calibration rig as on this one. Every card keeps its calibration
// (CardCalibrationStore); a rig may drive the inputs' analog front ends (SetAnalogInputs), and
// an Output Card then drives from a written value through its stored voltage line.
//
// Vendor sub-commands are looked up in a table of handlers (SetVendorCommand), each feature
// keeping its own state, and fall back to DEDOCardSimulator's; more features join the same way.
//
// Threads: as DEDOCardSimulator. Requests and the vendor handlers run under the state lock;
// SetClock, SetVendorCommand, SetAnalogInputs and the calibration and output accessors may be
// called from any thread (they take the state lock).
class FullCardSimulator : public DEDOCardSimulator
{
public:
    // Answers one vendor sub-command: 0 with payload filled, or a Modbus exception code. Runs
    // with the state lock held; nowMs is the card's clock.
    typedef std::function<int(const ByteVec& arguments, ByteVec& payload, std::int64_t nowMs)>
        VendorCommand;

    // What an input's analog front end reads now: its raw register and the stored line (0
    // voltage, 1 current) that turns the raw value into the value the card reports.
    struct AnalogReading
    {
        std::uint16_t raw = 0;
        int path = 0;
    };
    // Runs with the state lock held, on every read of the card; must not call back into it.
    typedef std::function<AnalogReading(unsigned index)> AnalogInputs;

    // The default model's point counts and register-map version.
    static constexpr unsigned numInputs = 24;
    static constexpr unsigned numOutputs = 24;
    static constexpr std::uint16_t registerMapVersion = 10;

    // clock: milliseconds since the card started; empty for the monotonic clock counted from
    // construction.
    explicit FullCardSimulator(const Clock& clock = Clock());
    explicit FullCardSimulator(const CardModel& model, const Clock& clock = Clock());

    const CardModel& Model() const { return m_model; }
    // Inputs read the given front end instead of the simulated plant.
    void SetAnalogInputs(AnalogInputs inputs);
    // The code output index drives now (holding register 65400 + index).
    std::uint16_t OutputCode(unsigned index) const;
    // The values of one of the card's calibration blocks.
    std::vector<float> CalibrationValues(unsigned block) const;
    // Stores a block as a finished calibration would (the card then reports itself calibrated).
    void StoreCalibrationValues(unsigned block, const std::vector<float>& values);

    // Replaces the card's clock (hides DEDOCardSimulator::SetClock, which it also sets).
    void SetClock(const Clock& clock);

    void SetVendorCommand(std::uint16_t subCommand, VendorCommand command);
    // The next times requests of subCommand are answered with exception 6 (busy), as a card
    // still writing its flash does.
    void AnswerBusy(std::uint16_t subCommand, unsigned times);

    int HandleRequest(unsigned char functionCode, const ByteVec& requestData,
                      ByteVec& replyData) override;

protected:
    int HandleVendorCommand(std::uint16_t subCommand, const ByteVec& arguments,
                            ByteVec& payload) override;
    void FrameHandled(const ByteVec& request, const ByteVec* reply) override;

    // With the state lock held.
    std::int64_t NowMs() const;
    CardNamedVariables& NamedVariables() { return m_namedVariables; }
    SimulatedPlant::PointSetup SetupOf(bool isInput, unsigned index);

private:
    // An output's own value and raw register, whatever an override shows meanwhile.
    struct Output
    {
        float value = 0.0f;
        std::uint16_t raw = 0;
    };
    // A long-term statistic counts on from value as it was at sinceMs.
    struct Statistic
    {
        std::uint32_t value = 0;
        std::int64_t sinceMs = 0;
    };
    struct InputStatistics
    {
        Statistic high, low, pulses;
    };

    void FillPoints();
    void AddNamedVariables();
    void AddVendorCommands();
    void AddConfigurationCommands();
    void AddCalibrationCommands();
    std::string RigCardConfigText() const;
    // Sub-command 19; before register-map version 8 a card answers a list of floats.
    int ReadNamedVariable(const ByteVec& arguments, ByteVec& payload) const;
    void RefreshAnalogInput(unsigned index);
    void AddControlModules();
    // The settings that the configuration data carry (CardSettings), from and into the
    // registers and variables that hold them.
    CardSettings CurrentSettings();
    void ApplySettings(const CardSettings& settings);
    // Configuration data of this card's layout and point counts; false changes nothing.
    bool TakeSettings(const ByteVec& data);
    void KeepSettingsInEe();
    void LoadSettingsFromEe();

    int ReadInputRegisters(const ByteVec& request, ByteVec& reply);
    // Writes the table entries that move with time or follow other entries.
    void RefreshDynamicEntries(std::int64_t nowMs);
    void AfterWrite(unsigned char functionCode, const ByteVec& request, std::int64_t nowMs);
    void AfterItemWritten(unsigned address, const ByteVec& entry, std::int64_t nowMs);
    void SetOutputValue(unsigned index, float value);
    void SetOutputRaw(unsigned index, std::uint16_t raw);

    float ReportedOutputValue(unsigned index);
    float PointValue(bool isInput, unsigned index, std::int64_t ms);
    std::uint32_t StatisticNow(unsigned index, std::uint16_t base, std::int64_t nowMs) const;

    const CardModel m_model;
    Clock m_clock;
    std::map<std::uint16_t, VendorCommand> m_vendorCommands;
    CardNamedVariables m_namedVariables;
    LiveDataFeed m_liveData;
    CardHistory m_history;
    CardConfiguration m_configuration;
    ByteVec m_settingsInEe; // the settings last written to EE
    CardControlModules m_controlModules;
    CardTrafficLog m_trafficLog;
    std::vector<Output> m_outputs;
    std::vector<InputStatistics> m_statistics;
    std::vector<float> m_safeValues;
    float m_softDogMinutes = 5.0f;
    CardCalibrationStore m_calibration;
    AnalogInputs m_analogInputs;
    std::map<std::uint16_t, unsigned> m_busyAnswers;
};
