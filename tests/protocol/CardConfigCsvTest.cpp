#include "protocol/CardConfigCsv.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "protocol/TolvarenCommsCommon.h"
#include "protocol/TolvarenSnapshot.h"
#include "tests/protocol/FakeCardRig.h"

using namespace Tolvaren;

namespace {

// A file in the temporary folder, removed at the end of the test.
struct TempFile
{
    std::string path;
    explicit TempFile(const std::string& name)
        : path(testing::TempDir() + "csvtest-" + std::to_string(::getpid()) + "-" + name)
    {
    }
    ~TempFile() { std::remove(path.c_str()); }

    void Write(const std::string& content) const
    {
        std::ofstream(path, std::ios::binary) << content;
    }
    std::string Read() const
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
};

std::vector<std::string> SplitCrLf(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0, end;
    while ((end = text.find("\r\n", start)) != std::string::npos) {
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    EXPECT_EQ(start, text.size()) << "text after the last line end";
    return lines;
}

// A snapshot of a card with the given points; every point i (from 0) has the label "L<i+1>",
// part number "P<i+1>", the profile "Volts" (id 3), no date, notes and value 1.5 + i.
TolvarenSnapshot Snapshot(int cardType, unsigned inputs, unsigned outputs)
{
    TolvarenSnapshot s;
    s.cardType = cardType;
    s.serialNumber = 123;
    s.firmwareVersion = "1.05";
    s.hardwareRevision = 7;
    s.configText = "DIP 1 on\r\nDIP 2 off\naddress 1";
    s.numInputs = inputs;
    s.numOutputs = outputs;
    s.scalingProfiles = boost::make_shared<std::map<int, TolvarenScalingProfile>>();
    (*s.scalingProfiles)[3] = TolvarenScalingProfile("0-10 Volts", "V10");
    (*s.scalingProfiles)[0xFFFF] = TolvarenScalingProfile("Digital", "");
    for (unsigned i = 0; i < inputs; ++i) {
        s.inputLabels.push_back("L" + std::to_string(i + 1));
        s.inputPartNumbers.push_back("P" + std::to_string(i + 1));
        s.inputProfileIds.push_back(3);
        s.inputOffsets.push_back(0);
        s.inputDates.emplace_back();
        s.inputNotes.emplace_back();
        s.inputValues.push_back(1.5f + i);
    }
    for (unsigned i = 0; i < outputs; ++i) {
        s.outputLabels.push_back("L" + std::to_string(i + 1));
        s.outputPartNumbers.push_back("P" + std::to_string(i + 1));
        s.outputProfileIds.push_back(3);
        s.outputOffsets.push_back(0);
        s.outputDates.emplace_back();
        s.outputNotes.emplace_back();
        s.outputValues.push_back(1.5f + i);
        s.overrideValues.push_back(0);
        s.overrideActive.push_back(false);
    }
    return s;
}

const char* const plainHeader =
    ",I/O No.,Label,Type,Part No.,Offset / Override,Install/Calibration Date,Notes,Value,Unit";

struct ExportCase
{
    const char* name;
    TolvarenSnapshot snapshot;
    // Expected lines by index; a negative index counts from the end (-1 is the last line).
    std::vector<std::pair<int, std::string>> lines;
    std::size_t lineCount;
};

TEST(CardConfigCsvTest, ExportWritesIdentityWatchdogAndOneLinePerPoint)
{
    std::vector<ExportCase> cases;
    {
        TolvarenSnapshot s = Snapshot(1, 2, 0);
        s.inputDates[0] = Date(5, 3, 2015);
        s.inputOffsets[0] = 1.25f;
        s.inputNotes[0] = "line1\r\nline2\nline3";
        s.inputLabels[1] = "say \"hi\"";
        s.inputProfileIds[1] = 0xFFFF;
        s.inputValues[1] = -2.004f;
        cases.push_back({"input card: no watchdog, dates, notes and quotes as they are",
                         s,
                         {{0, "Serial number: 000123"},
                          {1, "Firmware version: 1.05"},
                          {2, "Hardware revision: 7"},
                          {3, ""},
                          {4, "DIP 1 on"},
                          {5, "DIP 2 off"},
                          {6, "address 1"},
                          {7, ""},
                          {8, plainHeader},
                          {9, ",Input 1,\"L1\",\"0-10 Volts\",\"P1\",1.25,05/03/2015,"
                              "\"line1\\line2\\line3\",1.50,\"V\","},
                          {10, ",Input 2,\"say \"hi\"\",\"Digital\",\"P2\",0,,\"\",-2.00,\"\","}},
                         11});
    }
    {
        TolvarenSnapshot s = Snapshot(2, 0, 2);
        s.commsDogOutputsOffDelay = 30;
        s.commsDogTriggered = true; // a disabled watchdog is not reported as triggered
        s.overrideActive[0] = true;
        s.overrideValues[0] = 3.5f;
        s.overrideValues[1] = 9.0f;
        s.outputOffsets[1] = 2.0f;
        cases.push_back({"output card: watchdog, override only where active",
                         s,
                         {{8, "Watchdog:"},
                          {9, "Delay until bus off: 0 seconds"},
                          {10, "Delay until all off: 30 seconds"},
                          {11, "Current state: disabled"},
                          {12, ""},
                          {13, ""},
                          {14, plainHeader},
                          {15, ",Output 1,\"L1\",\"0-10 Volts\",\"P1\",3.5,,\"\",1.50,\"V\","},
                          {16, ",Output 2,\"L2\",\"0-10 Volts\",\"P2\",,,\"\",2.50,\"V\","}},
                         17});
    }
    {
        TolvarenSnapshot s = Snapshot(4, 24, 24);
        s.commsDogBusOffDelay = 5;
        s.commsDogTriggered = true;
        cases.push_back({"card type 4: connectors, triggered watchdog",
                         s,
                         {{11, "Current state: triggered"},
                          {14, ",I/O No.,Duvalnor Connector,Label,Type,Part No.,Offset / Override,"
                               "Install/Calibration Date,Notes,Value,Unit"},
                          {15, ",Input 1,2,\"L1\",\"0-10 Volts\",\"P1\",0,,\"\",1.50,\"V\","},
                          {23, ",Input 9,4,\"L9\",\"0-10 Volts\",\"P9\",0,,\"\",9.50,\"V\","},
                          {38, ",Input 24,6,\"L24\",\"0-10 Volts\",\"P24\",0,,\"\",24.50,\"V\","},
                          {39, ",Output 1,1,\"L1\",\"0-10 Volts\",\"P1\",,,\"\",1.50,\"V\","},
                          {47, ",Output 9,3,\"L9\",\"0-10 Volts\",\"P9\",,,\"\",9.50,\"V\","}},
                         63});
    }
    {
        TolvarenSnapshot s = Snapshot(3, 1, 1);
        s.commsDogBusOffDelay = 5;
        s.configText.clear();
        s.outputProfileIds[0] = 77; // no name in the catalogue
        cases.push_back({"healthy watchdog, empty config text, a profile the catalogue lacks",
                         s,
                         {{4, ""},
                          {5, ""},
                          {9, "Current state: healthy"},
                          {14, ",Output 1,\"L1\",\"?\",\"P1\",,,\"\",1.50,\"\","}},
                         15});
    }

    for (const ExportCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempFile file("export.csv");
        file.Write("older and longer content that must go");
        WriteCardConfigCsv(c.snapshot, file.path);
        const std::vector<std::string> lines = SplitCrLf(file.Read());
        ASSERT_EQ(lines.size(), c.lineCount);
        for (const auto& expected : c.lines) {
            const int index =
                expected.first < 0 ? int(lines.size()) + expected.first : expected.first;
            EXPECT_EQ(lines.at(index), expected.second) << "line " << index;
        }
    }
}

TEST(CardConfigCsvTest, ExportToAnUnwritablePlaceFails)
{
    EXPECT_THROW_TEXT(WriteCardConfigCsv(Snapshot(1, 1, 0), "/nonexistent-dir/x.csv"),
                      ExceptionWithString, "Cannot write to file: /nonexistent-dir/x.csv");
}

std::string Describe(const PointImportRecord& r)
{
    return std::string(r.direction == Input ? "I" : "O") + std::to_string(r.number) + "|" +
           r.label + "|" + r.partNumber + "|" + r.notes;
}

std::vector<std::string> Read(const std::string& content, int cardType)
{
    TempFile file("import.csv");
    file.Write(content);
    std::vector<std::string> found;
    for (const PointImportRecord& r : ReadPointsCsv(file.path, cardType))
        found.push_back(Describe(r));
    return found;
}

TEST(CardConfigCsvTest, ImportTakesTheFirstFourFieldsOfPointLinesOnly)
{
    using Lines = std::vector<std::string>;
    // Ignored: a lower-case point, outputs of an input card, out of range, zero, no number.
    EXPECT_EQ(Read("I1,Pump,PN-7,\r\nOutput 2, Fan\r\ni3,x\r\nI99,y\nI0,z\nInput,w\nX1,a\n", 1),
              Lines({"I1|Pump|PN-7|"}));
    // Spaces in the point field, blanks kept elsewhere, extra fields ignored, missing ones
    // empty, quoted fields with commas and text after the closing quote.
    EXPECT_EQ(
        Read("I 3, Pump ,  ,n,extra\r\nInput 2\nO1,\"Hall, east\"x,P1,\"a,b\"\r\n"
             "Out put 9,\"unterminated, field",
             3),
        Lines({"I3| Pump |  |n", "I2|||", "O1|Hall, eastx|P1|a,b", "O9|unterminated, field||"}));
    EXPECT_EQ(Read("O24,a\nI24,b\nO25,c\nI-1,d\nI99999999999999999999,e\n", 4),
              Lines({"O24|a||", "I24|b||"}));
    // Bytes are passed through as they are.
    EXPECT_EQ(Read(std::string("O1,\xff\xfe\x00x\n", 8), 2),
              Lines({std::string("O1|\xff\xfe\x00x||", 9)}));
    EXPECT_EQ(Read("", 2), Lines());
    // A byte order mark is not part of the first point.
    EXPECT_EQ(Read("\xEF\xBB\xBFO1,a\n\xEF\xBB\xBFO2,b\n", 2), Lines({"O1|a||"}));

    EXPECT_TRUE(ReadPointsCsv("/nonexistent-dir/points.csv", 1).empty());
    EXPECT_THROW_TEXT(Read("I1,a\n", 5), ExceptionWithString, "Invalid card type");
    EXPECT_THROW_TEXT(Read("I1,a\n", 0), ExceptionWithString, "Invalid card type");
}

TEST(CardConfigCsvTest, ImportRefusesFilesOfUnboundedSize)
{
    const std::string longLine = "I1," + std::string(maxImportLineLength, 'x') + "\n";
    EXPECT_THROW_TEXT(Read("I2,a\n" + longLine, 1), ExceptionWithString, "Line 2 is too long");
    // A line end is no escape: the limit is on the line without it.
    EXPECT_EQ(Read(longLine.substr(0, maxImportLineLength) + "\r\n", 1).size(), 1u);

    std::string many;
    for (std::size_t i = 0; i <= maxImportRecords; ++i)
        many += "I1,a\n";
    EXPECT_THROW_TEXT(Read(many, 1), ExceptionWithString,
                      "More than " + std::to_string(maxImportRecords) + " points in the file");
    // Ignored lines do not count.
    EXPECT_EQ(Read(std::string(2 * maxImportRecords, '\n') + "I1,a", 1).size(), 1u);
}

PointImportRecord Record(IoDirection dir, int number, const std::string& label,
                         const std::string& part, const std::string& notes)
{
    PointImportRecord r;
    r.direction = dir;
    r.number = number;
    r.label = label;
    r.partNumber = part;
    r.notes = notes;
    return r;
}

TEST(CardConfigCsvTest, PointsAreWrittenToTheCardUntilTheFirstFailure)
{
    FakeCardRig rig(4, 9);
    TolvarenCommsCommon comms(rig.datalink);
    WritePointsToCard(
        {Record(Input, 1, "Pump", "PN-7", "first\nnote"), Record(Output, 24, "Fan", "", "")},
        rig.datalink);
    EXPECT_EQ(comms.GetLabel(Input, 0).get(), "Pump");
    EXPECT_EQ(comms.GetPartNumber(Input, 0).get(), "PN-7");
    EXPECT_EQ(comms.GetIoNote(Input, 0).get(), "first\nnote");
    EXPECT_EQ(comms.GetLabel(Output, 23).get(), "Fan");
    EXPECT_EQ(comms.GetPartNumber(Output, 23).get(), ""); // a blank field overwrites

    // The card refuses the part number of output 5 (outputs sit 50 registers above inputs).
    rig.card.FailAddress(16, 9500 + 50 + 4, 2);
    try {
        WritePointsToCard({Record(Output, 4, "Four", "P4", ""), Record(Output, 5, "Five", "P5", ""),
                           Record(Output, 6, "Six", "P6", "")},
                          rig.datalink);
        ADD_FAILURE() << "the refused write was not reported";
    } catch (const ExceptionWithString& e) {
        const std::string text = e.what();
        EXPECT_EQ(text.rfind("Failed to import Output 5: ", 0), 0u) << text;
        EXPECT_NE(text.find("illegal data address"), std::string::npos) << text;
    }
    rig.card.ClearFailures();
    EXPECT_EQ(comms.GetPartNumber(Output, 3).get(), "P4");
    EXPECT_EQ(comms.GetLabel(Output, 4).get(), "Five");
    EXPECT_NE(comms.GetLabel(Output, 5).get(), "Six");

    // Without notes on the card, notes are not written at all.
    rig.content.SetNotesSupported(false);
    rig.card.ClearRequests();
    WritePointsToCard({Record(Input, 2, "Two", "P2", "ignored")}, rig.datalink);
    EXPECT_EQ(comms.GetLabel(Input, 1).get(), "Two");
    EXPECT_TRUE(rig.Vendor(13).empty() && rig.Vendor(14).empty());
}

} // namespace
