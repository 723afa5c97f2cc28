#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "calibration/CalibSettings.h"
#include "modbus/ModbusMasterDatalink.h"
#include "protocol/TolvarenCommsCommon.h"
#include "simulator/CardBytes.h"
#include "tests/support/FakeCard.h"
#include "tests/support/FutureWait.h"
#include "tests/support/ExpectThrowText.h"

// A fake Input Card whose raw registers answer scripted values, one per read, the last one
// repeated.
class ScriptedRawCard : public FakeCard
{
public:
    ScriptedRawCard() : FakeCard(1, 10) {}

    void Script(unsigned index, std::vector<std::uint16_t> values)
    {
        std::lock_guard<std::mutex> lock(m_scriptMutex);
        m_scripts[std::uint16_t(65400 + index)] =
            std::deque<std::uint16_t>(values.begin(), values.end());
    }

protected:
    int HandleStandardRequest(unsigned char functionCode, const ByteVec& requestData,
                              ByteVec& replyData) override
    {
        if (functionCode == 4 && requestData.size() >= 2) {
            const std::uint16_t address = CardBytes::ReadU16(requestData, 0);
            std::lock_guard<std::mutex> lock(m_scriptMutex);
            auto script = m_scripts.find(address);
            if (script != m_scripts.end() && !script->second.empty()) {
                InputRegisters()[address] = CardBytes::U16(script->second.front());
                if (script->second.size() > 1)
                    script->second.pop_front();
            }
        }
        return FakeCard::HandleStandardRequest(functionCode, requestData, replyData);
    }

private:
    std::mutex m_scriptMutex;
    std::map<std::uint16_t, std::deque<std::uint16_t>> m_scripts;
};

// Every calibration test starts from the settings a program starts with.
class CalibSettingsTest : public ::testing::Test
{
protected:
    CalibSettingsTest() { settings = CalibSettings(); }
    ~CalibSettingsTest() override { settings = CalibSettings(); }

    CalibSettings& settings = CalibSettings::Instance();
};

