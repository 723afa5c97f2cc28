// tolvaren-cli's commands against the full simulated card that tolvaren-sim serves on a
// pseudo-terminal, run as a user runs them.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "protocol/TolvarenCommsCommon.h"
#include "tests/cli/CliRun.h"
#include "tests/support/FakeSysfs.h"

namespace {

// What a dump shows of the card's settings: every point without its moving readings, and the
// watchdog settings; as indented JSON, so that a difference reads well.
std::string Settings(const QJsonObject& dump)
{
    QJsonObject settings;
    for (const char* direction : {"inputs", "outputs"}) {
        QJsonArray points;
        for (const QJsonValue& value : dump[direction].toArray()) {
            QJsonObject point = value.toObject();
            for (const char* moving : {"value", "raw", "longTerm"})
                point.remove(moving);
            points.append(point);
        }
        settings[direction] = points;
    }
    QJsonObject watchdog = dump["watchdog"].toObject();
    watchdog.remove("state");
    settings["watchdog"] = watchdog;
    return QJsonDocument(settings).toJson().toStdString();
}

class CliCardTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_FALSE(m_card.Path().empty()) << m_card.Process().Output(); }

    CliRun::Result Run(std::vector<std::string> arguments, const std::string& input = {})
    {
        arguments.insert(arguments.end(), {"--port", m_card.Path()});
        return m_cli.Run(arguments, input);
    }
    std::string File(const std::string& name) const
    {
        return m_files.path().toStdString() + "/" + name;
    }
    QJsonObject Dump()
    {
        const CliRun::Result dump = Run({"dump"});
        EXPECT_EQ(dump.exitCode, 0) << dump.err;
        return QJsonDocument::fromJson(QByteArray::fromStdString(dump.out)).object();
    }
    // Settings the program has no command for, changed over the port as the window does.
    void ChangeOverThePort()
    {
        ::ChangeOverThePort(m_card.Path(), [](TolvarenCommsCommon& comms) {
            comms.SetLowerLimit(Tolvaren::Input, 0, -40).get();
            comms.SetUpperLimit(Tolvaren::Output, 5, 20).get();
            comms.SetOffset(Tolvaren::Input, 2, 1.5f).get();
            comms.SetCalibrationDate(Tolvaren::Output, 0, Tolvaren::Date(1, 2, 2031)).get();
            comms.SetOverrideActive(3, false).get();
            comms.SetCommsDogBusOffDelay(45).get();
        });
    }
    QStringList Backups() const
    {
        return QDir(QString::fromStdString(m_cli.BackupFolder())).entryList(QDir::Files);
    }

    FakeSysfs m_sysfs; // no real port of this machine takes part
    ServedCard m_card;
    CliRun m_cli;
    QTemporaryDir m_files;
};

TEST_F(CliCardTest, IdentifyReadsTheCardOnTheChosenPortInTextAndJson)
{
    const CliRun::Result text = Run({"identify"});
    EXPECT_EQ(text.exitCode, 0) << text.err;
    for (const char* line :
         {"Card type:            KTV-ROLM-73C6E (type 4)\n", "Firmware version:     2.10\n",
          "Register-map version: 10\n", "Serial number:        001207\n",
          "Board voltage:        24.00 V\n", "Health:               healthy\n"})
        EXPECT_NE(text.out.find(line), std::string::npos) << text.out;

    // The automatic choice takes the only available port, as the window does.
    ::setenv("TOLVAREN_EXTRA_SERIAL_PORTS", m_card.Path().c_str(), 1);
    const CliRun::Result json = m_cli.Run({"identify", "--json"});
    ::unsetenv("TOLVAREN_EXTRA_SERIAL_PORTS");
    EXPECT_EQ(json.exitCode, 0) << json.err;
    const QJsonObject card = QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).object();
    EXPECT_EQ(card["port"].toInt(), 300);
    EXPECT_EQ(card["cardName"].toString(), "KTV-ROLM-73C6E");
    EXPECT_EQ(card["serialNumber"].toInt(), 1207);
    EXPECT_EQ(card["registerVersion"].toInt(), 10);
    EXPECT_TRUE(card["healthy"].toBool());

    const CliRun::Result otherNode = Run({"identify", "--node", "2", "--timeout", "100"});
    EXPECT_EQ(otherNode.exitCode, 4) << "only node 1 answers";
}

TEST_F(CliCardTest, DumpHoldsEveryPointWithItsConfiguration)
{
    const QJsonObject dump = Dump();
    EXPECT_EQ(dump["card"].toObject()["cardType"].toInt(), 4);
    EXPECT_EQ(dump["card"].toObject()["firmwareVersion"].toString(), "2.10");
    const QJsonArray inputs = dump["inputs"].toArray();
    const QJsonArray outputs = dump["outputs"].toArray();
    ASSERT_EQ(inputs.size(), 24);
    ASSERT_EQ(outputs.size(), 24);
    const QJsonObject in1 = inputs[0].toObject();
    EXPECT_EQ(in1["number"].toInt(), 1);
    EXPECT_EQ(in1["label"].toString(), "Input 1");
    EXPECT_EQ(in1["partNumber"].toString(), "KT-IN-01");
    EXPECT_EQ(in1["profile"].toString(), "Voltage 0-10V <-> 0-100%");
    EXPECT_EQ(in1["unit"].toString(), "%");
    EXPECT_TRUE(in1["value"].isDouble());
    EXPECT_EQ(in1["date"].toString(), "2024-03-01");
    const QJsonObject out1 = outputs[0].toObject();
    EXPECT_FALSE(out1["override"].toObject()["active"].toBool());
    EXPECT_EQ(out1["safeValue"].toDouble(), 25.0);
    EXPECT_EQ(dump["watchdog"].toObject()["state"].toString(), "disabled");
    EXPECT_TRUE(dump["scalingProfiles"].toArray().size() > 1);
}

TEST_F(CliCardTest, SaveRestoreRoundTripKeepsASafetyCopyAndVerifies)
{
    const CliRun::Result saved = Run({"save-config", File("known-good.dat")});
    ASSERT_EQ(saved.exitCode, 0) << saved.err;
    const std::string knownGood = ReadFileBytes(File("known-good.dat"));
    ASSERT_GT(knownGood.size(), 14u);
    const std::string settings = Settings(Dump());

    // The card changes after the backup: labels, a note, limits and more, the watchdogs ...
    WriteFileBytes(File("points.csv"), "I1,Pump,PN-7,first note\r\nOutput 2,Fan,,\r\n");
    ASSERT_EQ(Run({"import-csv", File("points.csv"), "--yes"}).exitCode, 0);
    ChangeOverThePort();
    ASSERT_EQ(Run({"write-var", "ProfiledSafeVal[0]", "3.5"}).exitCode, 0);
    ASSERT_EQ(Run({"write-var", "OutputsToSafeMinutes", "9"}).exitCode, 0);
    ASSERT_NE(Settings(Dump()), settings);
    ASSERT_EQ(Run({"save-config", File("changed.dat")}).exitCode, 0);
    ASSERT_NE(ReadFileBytes(File("changed.dat")), knownGood);

    // ... asking first, and a "no" writes nothing.
    const CliRun::Result declined = Run({"restore-config", File("known-good.dat")}, "n\n");
    EXPECT_EQ(declined.exitCode, 7);
    EXPECT_NE(declined.err.find("Are you sure?"), std::string::npos);
    EXPECT_TRUE(Backups().isEmpty());

    const CliRun::Result restored = Run({"restore-config", File("known-good.dat")}, "y\n");
    EXPECT_EQ(restored.exitCode, 0) << restored.err;
    EXPECT_NE(restored.out.find("Verified"), std::string::npos) << restored.out;
    ASSERT_EQ(Run({"save-config", File("after.dat")}).exitCode, 0);
    EXPECT_EQ(ReadFileBytes(File("after.dat")), knownGood);
    // ... and the card shows what it showed before.
    EXPECT_EQ(Settings(Dump()), settings);

    // The safety copy holds what the card held before the restore.
    const QStringList backups = Backups();
    ASSERT_EQ(backups.size(), 1);
    EXPECT_TRUE(backups[0].startsWith("1207_")) << backups[0].toStdString();
    EXPECT_EQ(ReadFileBytes(m_cli.BackupFolder() + "/" + backups[0].toStdString()),
              ReadFileBytes(File("changed.dat")));

    // Configuration data the card cannot take (a label byte changed under its CRC): the card
    // refuses them and keeps what it has.
    std::string damaged = knownGood;
    damaged[6 + 14] ^= 0x20;
    WriteFileBytes(File("damaged.dat"), damaged);
    const CliRun::Result refused = Run({"restore-config", File("damaged.dat"), "--yes"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("Failed to update card configuration: node returned an error: the "
                               "value requested is not valid"),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(Settings(Dump()), settings);
}

// A full disk, for the program alone: results that cannot be stored fail with code 5, an
// earlier file stays as it was, and a restore that cannot keep its safety copy writes nothing.
TEST_F(CliCardTest, AFullDiskFailsWithCodeFiveAndKeepsWhatWasGood)
{
    ASSERT_EQ(Run({"save-config", File("known-good.dat")}).exitCode, 0);
    const std::string knownGood = ReadFileBytes(File("known-good.dat"));
    WriteFileBytes(File("points.csv"), "I1,Pump,PN-7,first note\r\n");
    ASSERT_EQ(Run({"import-csv", File("points.csv"), "--yes"}).exitCode, 0);
    ASSERT_EQ(Run({"save-config", File("changed.dat")}).exitCode, 0);
    const std::string changed = ReadFileBytes(File("changed.dat"));

    struct Case
    {
        std::vector<std::string> arguments;
        bool toFile; // standard output into a file under the limit
        std::string says;
    };
    const Case cases[] = {
        {{"identify"}, true, "Cannot write to standard output"},
        {{"dump"}, true, "Cannot write to standard output"},
        {{"save-config", File("changed.dat")},
         false,
         "Cannot write to file: " + File("changed.dat")},
        {{"restore-config", File("known-good.dat"), "--yes"},
         false,
         "Failed to update card configuration: no safety copy kept: Cannot write to file: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments[0]);
        m_cli.LimitNextRun(64, c.toFile ? File("out.txt") : std::string());
        const CliRun::Result result = Run(c.arguments);
        EXPECT_EQ(result.exitCode, 5) << result.err;
        EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
    }
    EXPECT_EQ(ReadFileBytes(File("changed.dat")), changed);
    EXPECT_EQ(ReadFileBytes(File("known-good.dat")), knownGood);
    EXPECT_TRUE(Backups().isEmpty());
    ASSERT_EQ(Run({"save-config", File("after.dat")}).exitCode, 0);
    EXPECT_EQ(ReadFileBytes(File("after.dat")), changed) << "the card was not written";
}

TEST_F(CliCardTest, RestoreRefusesBadFilesBeforeTouchingTheCard)
{
    const CliRun::Result missing = Run({"restore-config", File("missing.dat"), "--yes"});
    EXPECT_EQ(missing.exitCode, 5);
    EXPECT_NE(missing.err.find("Failed to update card configuration: cannot open file"),
              std::string::npos)
        << missing.err;

    ASSERT_EQ(Run({"save-config", File("good.dat")}).exitCode, 0);
    std::string image = ReadFileBytes(File("good.dat"));
    struct Case
    {
        std::string bytes;
        const char* says;
    };
    const Case cases[] = {
        {std::string(image.begin(), image.begin() + 5), "not enough data to be valid"},
        {"\x09" + image.substr(1), "data format version is not a known value"},
        {image.substr(0, 1) + "\x01" + image.substr(2),
         "config data is for a different type of card"},
        {image + "x", "config data invalid (is corrupt)"},
    };
    for (const Case& c : cases) {
        WriteFileBytes(File("bad.dat"), c.bytes);
        const CliRun::Result refused = Run({"restore-config", File("bad.dat"), "--yes"});
        EXPECT_EQ(refused.exitCode, 1) << c.says;
        EXPECT_NE(refused.err.find(std::string("Failed to update card configuration: ") + c.says),
                  std::string::npos)
            << refused.err;
    }
    EXPECT_TRUE(Backups().isEmpty()) << "nothing was read for a restore that never started";
}

TEST_F(CliCardTest, CsvExportAndImportUseTheWindowsFormats)
{
    const CliRun::Result exported = Run({"export-csv", File("card.csv")});
    EXPECT_EQ(exported.exitCode, 0) << exported.err;
    const std::string csv = ReadFileBytes(File("card.csv"));
    EXPECT_EQ(csv.rfind("Serial number: 001207\r\nFirmware version: 2.10\r\n", 0), 0u) << csv;
    EXPECT_NE(csv.find(",Input 1,2,\"Input 1\",\"Voltage 0-10V <-> 0-100%\",\"KT-IN-01\","),
              std::string::npos);

    WriteFileBytes(File("points.csv"), "I1,Pump,PN-7,first note\nOutput 2,Fan,,\ni3,x\nI99,y\n");
    const CliRun::Result imported = Run({"import-csv", File("points.csv")}, "yes\n");
    EXPECT_EQ(imported.exitCode, 0) << imported.err;
    EXPECT_NE(imported.out.find("Input 1: label \"Pump\""), std::string::npos) << imported.out;
    EXPECT_NE(imported.out.find("Imported 2 points"), std::string::npos) << imported.out;
    const QJsonObject dump = Dump();
    const QJsonObject in1 = dump["inputs"].toArray()[0].toObject();
    EXPECT_EQ(in1["label"].toString(), "Pump");
    EXPECT_EQ(in1["partNumber"].toString(), "PN-7");
    EXPECT_EQ(in1["note"].toString(), "first note");
    EXPECT_EQ(dump["outputs"].toArray()[1].toObject()["label"].toString(), "Fan");

    EXPECT_EQ(Run({"import-csv", File("missing.csv"), "--yes"}).exitCode, 5);
    WriteFileBytes(File("nothing.csv"), "Label,Part,Notes\nI0,zero\n");
    const CliRun::Result nothing = Run({"import-csv", File("nothing.csv"), "--yes"});
    EXPECT_EQ(nothing.exitCode, 1);
    EXPECT_NE(nothing.err.find("names a point of this card"), std::string::npos) << nothing.err;
    EXPECT_EQ(Run({"export-csv", File("no-such-folder/card.csv")}).exitCode, 5);
}

TEST_F(CliCardTest, NamedVariablesAreReadAndWrittenInTheirOwnType)
{
    EXPECT_EQ(Run({"write-var", "OutputsToSafeMinutes", "7"}).exitCode, 0);
    const CliRun::Result read = Run({"read-var", "OutputsToSafeMinutes"});
    EXPECT_EQ(read.exitCode, 0) << read.err;
    EXPECT_EQ(read.out, "7.0000\n");

    // A list is parsed as read-var shows it; this card keeps the list read-only.
    const CliRun::Result array = Run({"read-var", "ProfiledSafeVals", "--json"});
    const QJsonObject value =
        QJsonDocument::fromJson(QByteArray::fromStdString(array.out)).object();
    EXPECT_EQ(value["tag"].toInt(), 4);
    EXPECT_EQ(value["value"].toString().left(16), "25.0000, 0.0000,");
    EXPECT_EQ(Run({"write-var", "ProfiledSafeVals", "1.5, x"}).exitCode, 2);
    const CliRun::Result readOnly = Run({"write-var", "ProfiledSafeVals", "1.5, 2, 3, "});
    EXPECT_EQ(readOnly.exitCode, 1);
    EXPECT_NE(readOnly.err.find("Error: node returned an error"), std::string::npos)
        << readOnly.err;

    const CliRun::Result notNumber = Run({"write-var", "OutputsToSafeMinutes", "soon"});
    EXPECT_EQ(notNumber.exitCode, 2);
    EXPECT_NE(notNumber.err.find("is not a number"), std::string::npos) << notNumber.err;
    EXPECT_EQ(Run({"read-var", "OutputsToSafeMinutes"}).out, "7.0000\n");

    const CliRun::Result unknown = Run({"read-var", "NoSuchVariable"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_NE(unknown.err.find("Error: "), std::string::npos) << unknown.err;
}

TEST_F(CliCardTest, DownloadWritesTheWindowsCsvWithProgressOnStandardError)
{
    const CliRun::Result done = Run({"download-8day", File("8day.csv")});
    EXPECT_EQ(done.exitCode, 0) << done.err;
    EXPECT_EQ(done.out, "All data retrieved successfully.\n");
    EXPECT_NE(done.err.find("Downloading: 100%"), std::string::npos) << done.err;
    const std::string csv = ReadFileBytes(File("8day.csv"));
    EXPECT_NE(csv.find("Date/Time,Input 1 (%),"), std::string::npos);
    EXPECT_GT(std::count(csv.begin(), csv.end(), '\n'), 768);

    EXPECT_EQ(Run({"download-8day", File("no-such-folder/8day.csv")}).exitCode, 5);
}

TEST_F(CliCardTest, CtrlCStopsADownloadCleanly)
{
    m_cli.Start({"download-8day", File("8day.csv"), "--port", m_card.Path()});
    ASSERT_TRUE(m_cli.WaitForError("Downloading: 10%"));
    m_cli.Signal(SIGINT);
    const CliRun::Result stopped = m_cli.Finish();
    EXPECT_EQ(stopped.exitCode, 130);
    EXPECT_NE(stopped.err.find("Download stopped; "), std::string::npos) << stopped.err;
    EXPECT_EQ(stopped.out, "");
}

TEST_F(CliCardTest, ACardThatStopsAnsweringMidDownloadEndsWithCodeFour)
{
    m_cli.Start({"download-8day", File("8day.csv"), "--port", m_card.Path(), "--timeout", "200"});
    ASSERT_TRUE(m_cli.WaitForError("Downloading: 10%"));
    m_card.Process().Signal(SIGSTOP);
    const CliRun::Result failed = m_cli.Finish();
    m_card.Process().Signal(SIGCONT);
    EXPECT_EQ(failed.exitCode, 4);
    EXPECT_NE(failed.err.find("Failed: No reply from node"), std::string::npos) << failed.err;
}

// A card served with a fault on its line, steered through the serving program's control pipe.
class FaultyCard
{
public:
    explicit FaultyCard(const std::string& fault)
        : m_control(m_folder.path().toStdString() + "/control"),
          m_card({"--no-pacing", "--fault", fault, "--control", m_control})
    {
    }
    const std::string& Path() const { return m_card.Path(); }
    void Command(const std::string& line) { WriteFileBytes(m_control, line + "\n"); }
    // The serving program's counts, as "Stats: requests N, faulted F, ..., held H, ...".
    std::string Stats()
    {
        Command("s");
        return m_card.Process().LineStartingWith("Stats:").value_or("");
    }
    // Waits (bounded) until every reply held back by a fault has gone out on the line.
    bool NothingHeld()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline)
            if (Stats().find(", held 0,") != std::string::npos)
                return true;
        return false;
    }

private:
    QTemporaryDir m_folder;
    std::string m_control;
    ServedCard m_card;
};

// The number after "key " in a stats line.
int Count(const std::string& stats, const std::string& key)
{
    const std::size_t at = stats.find(key + " ");
    return at == std::string::npos ? -1 : std::atoi(stats.c_str() + at + key.size() + 1);
}

TEST(CliFaultyLineTest, ALateReplyLeftOnThePortIsNotTakenByTheNextCommand)
{
    FakeSysfs sysfs;
    FaultyCard card("late-reply ms=400");
    ASSERT_FALSE(card.Path().empty());
    CliRun cli;
    const CliRun::Result lost = cli.Run({"identify", "--port=" + card.Path(), "--timeout=100"});
    ASSERT_EQ(lost.exitCode, 4) << lost.err;
    // The reply comes after the command has given up, and waits in the port for the next one.
    ASSERT_TRUE(card.NothingHeld());
    card.Command("f none");

    const CliRun::Result next =
        cli.Run({"read-var", "OutputsToSafeMinutes", "--port", card.Path()});
    EXPECT_EQ(next.exitCode, 0) << next.err;
    EXPECT_EQ(next.out, "5.0000\n");
}

TEST(CliFaultyLineTest, ADownloadAsksAgainForLostRepliesAndCountsThem)
{
    FakeSysfs sysfs;
    QTemporaryDir files;
    const std::string csvPath = files.path().toStdString() + "/8day.csv";
    FaultyCard card("no-reply every=100");
    ASSERT_FALSE(card.Path().empty());
    CliRun cli;
    const CliRun::Result done =
        cli.Run({"download-8day", csvPath, "--port=" + card.Path(), "--timeout=200"});
    EXPECT_EQ(done.exitCode, 0) << done.err;
    const int lost = Count(card.Stats(), "faulted");
    ASSERT_GT(lost, 0);
    EXPECT_NE(done.err.find("Lost replies asked again: " + std::to_string(lost) + "\n"),
              std::string::npos)
        << done.err;
    EXPECT_NE(done.err.find(" retries)\n"), std::string::npos) << "the progress counts them";
    const std::string csv = ReadFileBytes(csvPath);
    EXPECT_GT(std::count(csv.begin(), csv.end(), '\n'), 768);

    // A refusal is an answer, not a lost reply: the download ends at once.
    FaultyCard refusing("exception every=40");
    const CliRun::Result refused =
        cli.Run({"download-8day", csvPath, "--port=" + refusing.Path(), "--timeout=200"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("Failed: node returned an error"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.err.find("Lost replies"), std::string::npos) << refused.err;
}

} // namespace
