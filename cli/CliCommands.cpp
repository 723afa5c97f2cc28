#include "cli/CliCommands.h"

#include <cstdio>
#include <iomanip>
#include <iostream>
#include <locale>
#include <type_traits>
#include <sstream>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <boost/thread/future.hpp>

#include "cli/CliCardLink.h"
#include "cli/CliErrors.h"
#include "cli/CliFailure.h"
#include "cli/CliInterrupt.h"
#include "report/SnapshotJson.h"
#include "comms/AutoReconnectSerialComms.h"
#include "modbus/ModbusMasterDatalink.h"
#include "protocol/CPackedVal.h"
#include "protocol/TolvarenCommsCommon.h"
#include "protocol/TolvarenSnapshotGatherer.h"

namespace {

std::string CardTypeText(int cardType)
{
    if (cardType >= 1 && cardType <= 4)
        return std::string(TolvarenCardName(cardType)) + " (type " + std::to_string(cardType) + ")";
    return "device without I/O points (type " + std::to_string(cardType) + ")";
}

// VALUE as a number, with a point whatever the locale; false unless all of it is one.
template <typename T> bool ParseNumber(const std::string& text, T& value)
{
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    in >> value;
    if (!in)
        return false;
    in >> std::ws;
    return in.eof() && (std::is_floating_point<T>::value || text.find('-') == std::string::npos);
}

// The value to write, in the type the variable holds now (text when it cannot be read, or is
// text). A value that does not fit the variable's type is refused before anything is written.
CPackedVal ValueToWrite(TolvarenCommsCommon& comms, const std::string& name,
                        const std::string& text)
{
    CPackedVal current;
    try {
        current = comms.ReadNamedVariable(name).get();
    } catch (const std::exception&) {
        return CPackedVal::FromString(text); // write-only, or unknown: the card decides
    }
    const auto refuse = [&](const char* kind) {
        throw Cli::Error(Cli::BadArguments, "\"" + text + "\" is not " + kind +
                                                ", as the variable " + name +
                                                " is (--as-text sends it as text)");
    };
    switch (current.GetTag()) {
    case CPackedVal::FloatTag: {
        float value = 0;
        if (!ParseNumber(text, value))
            refuse("a number");
        return CPackedVal::FromFloat(value);
    }
    case CPackedVal::UInt32Tag: {
        unsigned long value = 0;
        if (!ParseNumber(text, value) || value > 0xFFFFFFFFul)
            refuse("an unsigned 32-bit number");
        return CPackedVal::FromUInt32(unsigned(value));
    }
    case CPackedVal::FloatArrayTag: {
        // As read-var shows it: "1.0000, 2.0000, " (a trailing separator is allowed).
        std::vector<float> values;
        std::istringstream items(text);
        std::string item;
        while (std::getline(items, item, ',')) {
            float value = 0;
            if (item.find_first_not_of(" ") == std::string::npos && items.eof())
                break;
            if (!ParseNumber(item, value))
                refuse("a list of numbers separated by commas");
            values.push_back(value);
        }
        return CPackedVal::FromFloatArray(values);
    }
    default:
        return CPackedVal::FromString(text);
    }
}

// As the configuration CSV writes it: at least 6 digits.
std::string SerialText(unsigned serial)
{
    std::ostringstream text;
    text << std::setw(6) << std::setfill('0') << serial;
    return text.str();
}

} // namespace

CliCommands::CliCommands(const CliOptions& options) : m_options(options) {}

CliCommands::~CliCommands() = default;

void CliCommands::Run()
{
    const std::string& c = m_options.command;
    if (c == "ports")
        Ports();
    else if (c == "identify")
        Identify();
    else if (c == "dump")
        Dump();
    else if (c == "save-config")
        SaveConfig();
    else if (c == "restore-config")
        RestoreConfig();
    else if (c == "export-csv")
        ExportCsv();
    else if (c == "import-csv")
        ImportCsv();
    else if (c == "download-8day")
        Download8Day();
    else if (c == "report")
        Report();
    else if (c == "read-var")
        ReadVar();
    else if (c == "write-var")
        WriteVar();
    else
        throw Cli::Error(Cli::BadArguments, "unknown command " + c);
}

CliCardLink& CliCommands::Link()
{
    if (!m_link)
        m_link = std::make_unique<CliCardLink>(m_options.port, m_options.nodeAddress,
                                               m_options.timeoutMs);
    return *m_link;
}

void CliCommands::PrintJson(const QJsonValue& value)
{
    const QJsonDocument document =
        value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    std::cout << document.toJson(QJsonDocument::Indented).toStdString() << std::flush;
}

void CliCommands::Say(const std::string& line)
{
    if (!m_options.json)
        std::cout << line << std::endl;
}

void CliCommands::Confirm(const std::string& question)
{
    if (m_options.yes)
        return;
    std::cerr << question << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer))
        std::cerr << "\n";
    if (answer != "y" && answer != "Y" && answer != "yes" && answer != "Yes")
        throw Cli::Error(Cli::NotConfirmed, "Not confirmed: nothing was written into the card "
                                            "(--yes writes without asking)");
}

void CliCommands::Ports()
{
    std::vector<SerialPortInfo> ports;
    try {
        AutoReconnectSerialComms::EnumerateSerialPorts(ports, false);
    } catch (const std::exception& e) {
        throw Cli::Error(Cli::NoPort, e.what());
    }
    if (m_options.json) {
        QJsonArray list;
        for (const SerialPortInfo& port : ports) {
            QJsonObject entry;
            entry["port"] = port.portNumber;
            entry["device"] = CardText(port.devicePath);
            entry["name"] = CardText(port.friendlyName);
            entry["description"] = CardText(port.description);
            entry["usb"] = port.isUsb;
            list.append(entry);
        }
        PrintJson(list);
        return;
    }
    if (ports.empty())
        Say("No ports found");
    for (const SerialPortInfo& port : ports)
        Say(port.friendlyName);
}

void CliCommands::Identify()
{
    TolvarenCommsCommon comms(Link().Datalink());
    std::string firmware;
    std::uint16_t registerVersion = 0, hardware = 0, serial = 0;
    int cardType = 0;
    float volts = 0;
    bool healthy = false;
    try {
        // All requests are queued at once; the datalink sends them one after another.
        auto firmwareF = comms.GetFirmwareVersionString();
        auto versionF = comms.GetRegisterVersion();
        auto typeF = comms.GetCardType(false);
        auto hardwareF = comms.ReadSingleRegister(false, TolvarenCommsCommon::regHardwareRevision);
        auto serialF = comms.ReadSingleRegister(false, TolvarenCommsCommon::regSerialNumber);
        auto voltsF = comms.GetBoardVoltage();
        auto healthF = comms.ReadSingleBit(false, TolvarenCommsCommon::bitHealthy);
        firmware = firmwareF.get();
        registerVersion = versionF.get();
        cardType = typeF.get();
        hardware = hardwareF.get();
        serial = serialF.get();
        volts = voltsF.get();
        healthy = healthF.get();
    } catch (...) {
        Cli::FailWithCardText();
    }
    if (m_options.json) {
        QJsonObject card;
        card["port"] = Link().PortNumber();
        card["cardType"] = cardType;
        card["cardName"] = cardType >= 1 && cardType <= 4
                               ? QJsonValue(QString::fromLatin1(TolvarenCardName(cardType)))
                               : QJsonValue(QJsonValue::Null);
        card["firmwareVersion"] = CardText(firmware);
        card["hardwareRevision"] = hardware;
        card["registerVersion"] = registerVersion;
        card["serialNumber"] = serial;
        card["boardVoltage"] = double(volts);
        card["healthy"] = healthy;
        PrintJson(card);
        return;
    }
    char voltage[32];
    std::snprintf(voltage, sizeof voltage, "%.2f V", double(volts));
    Say("Card type:            " + CardTypeText(cardType));
    Say("Firmware version:     " + firmware);
    Say("Hardware revision:    " + std::to_string(hardware));
    Say("Register-map version: " + std::to_string(registerVersion));
    Say("Serial number:        " + SerialText(serial));
    Say("Board voltage:        " + QString(voltage).toStdString());
    Say(std::string("Health:               ") + (healthy ? "healthy" : "fault"));
}

const TolvarenSnapshot& CliCommands::Gather(TolvarenSnapshotGatherer& gatherer)
{
    try {
        gatherer.RefreshSnapshot().get();
    } catch (...) {
        Cli::FailWithCardText();
    }
    return gatherer.Snapshot();
}

void CliCommands::Dump()
{
    TolvarenSnapshotGatherer gatherer(Link().Datalink());
    PrintJson(SnapshotToJson(Gather(gatherer)));
}

void CliCommands::ReadVar()
{
    const std::string& name = m_options.arguments.at(0);
    CPackedVal value;
    std::string text;
    try {
        TolvarenCommsCommon comms(Link().Datalink());
        value = comms.ReadNamedVariable(name).get();
        text = value.DisplayText();
    } catch (...) {
        Cli::FailWith("Error: ");
    }
    if (m_options.json) {
        QJsonObject result;
        result["name"] = CardText(name);
        result["tag"] = value.GetTag();
        result["value"] = CardText(text);
        PrintJson(result);
        return;
    }
    Say(text);
}

void CliCommands::WriteVar()
{
    const std::string& name = m_options.arguments.at(0);
    const std::string& text = m_options.arguments.at(1);
    try {
        CliInterrupt::Scope finishing(CliInterrupt::Finishing);
        TolvarenCommsCommon comms(Link().Datalink());
        const CPackedVal value =
            m_options.asText ? CPackedVal::FromString(text) : ValueToWrite(comms, name, text);
        comms.WriteNamedVariable(name, value).get();
    } catch (...) {
        Cli::FailWith("Error: ");
    }
    CliInterrupt::StopIfRequested();
    if (m_options.json) {
        QJsonObject result;
        result["name"] = CardText(name);
        result["written"] = CardText(text);
        PrintJson(result);
        return;
    }
    Say("Write success");
}
