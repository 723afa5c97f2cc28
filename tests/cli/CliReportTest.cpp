// tolvaren-cli report against the card tolvaren-sim serves: a visit from the card as found (an
// earlier dump) to the card as left, read back with poppler's pdftotext.

#include <cstdlib>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "protocol/TolvarenCommsCommon.h"
#include "tests/cli/CliRun.h"
#include "tests/support/FakeSysfs.h"
#include "tests/support/PdfText.h"

namespace {

class CliReportTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_FALSE(m_card.Path().empty()) << m_card.Process().Output(); }

    CliRun::Result Run(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.end(), {"--port", m_card.Path()});
        return m_cli.Run(arguments);
    }
    std::string File(const std::string& name) const
    {
        return m_files.path().toStdString() + "/" + name;
    }
    // What an engineer changes in the window during the visit, over the port as the window does.
    void ChangeTwoLabelsAndALimit()
    {
        ::ChangeOverThePort(m_card.Path(), [](TolvarenCommsCommon& comms) {
            comms.SetLabel(Tolvaren::Input, 4, "Boiler flow <b>&\"").get();
            comms.SetLabel(Tolvaren::Output, 10, "Pump 2").get();
            comms.SetLowerLimit(Tolvaren::Input, 0, -40).get();
        });
    }

    FakeSysfs m_sysfs; // no real port of this machine takes part
    ServedCard m_card;
    CliRun m_cli;
    QTemporaryDir m_files;
};

TEST_F(CliReportTest, ReportSinceAnEarlierDumpListsExactlyTheChangesMade)
{
    const CliRun::Result dump = Run({"dump"});
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    WriteFileBytes(File("found.json"), dump.out);
    ChangeTwoLabelsAndALimit();

    const CliRun::Result report =
        Run({"report", File("visit.pdf"), "--as-found", File("found.json"), "--json"});
    ASSERT_EQ(report.exitCode, 0) << report.err;
    const QJsonObject data =
        QJsonDocument::fromJson(QByteArray::fromStdString(report.out)).object();
    QStringList changes;
    for (const QJsonValue c : data["changes"].toArray())
        changes << c["point"].toString() + "|" + c["field"].toString() + "|" +
                       c["asFound"].toString() + "|" + c["asLeft"].toString();
    EXPECT_EQ(changes,
              QStringList({"Input 1|Lower limit|0|-40", "Input 5|Label|Input 5|Boiler flow <b>&\"",
                           "Output 11|Label|Output 11|Pump 2"}));

    const std::string rows = Squeezed(PdfText(File("visit.pdf"), 0, true));
    const std::size_t section = rows.find("Changesduringthisvisit");
    ASSERT_NE(section, std::string::npos) << rows;
    for (const char* row : {"Input1Lowerlimit0-40", "Input5LabelInput5Boilerflow<b>&\"",
                            "Output11LabelOutput11Pump2"})
        EXPECT_NE(rows.find(row, section), std::string::npos) << row;

    // The report's own JSON stands as the next visit's "as found": nothing changed since.
    WriteFileBytes(File("left.json"), report.out);
    const CliRun::Result next =
        Run({"report", File("next.html"), "--as-found", File("left.json"), "--json"});
    ASSERT_EQ(next.exitCode, 0) << next.err;
    EXPECT_TRUE(QJsonDocument::fromJson(QByteArray::fromStdString(next.out))
                    .object()["changes"]
                    .toArray()
                    .isEmpty());
}

TEST_F(CliReportTest, BadInputAndAFullDiskLeaveTheOldReport)
{
    WriteFileBytes(File("old.pdf"), "the report of the last visit");
    WriteFileBytes(File("other.json"), R"({"card": {"cardType": 4, "serialNumber": 9}})");
    WriteFileBytes(File("broken.json"), "{ not json");
    struct Case
    {
        std::vector<std::string> arguments;
        int exitCode;
        std::string says;
    };
    const Case cases[] = {
        {{"report", File("old.txt")}, 2, "must end in .pdf or .html"},
        {{"report", File("old.pdf"), "--paper", "a3"}, 2, "bad value for --paper"},
        {{"report", File("old.pdf"), "--as-found", File("missing.json")}, 5, "cannot read file"},
        {{"report", File("old.pdf"), "--as-found", File("broken.json")}, 2, "is not the JSON"},
        {{"report", File("old.pdf"), "--as-found", File("other.json")}, 2, "another card"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        const CliRun::Result result = Run(c.arguments);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
    }
    m_cli.LimitNextRun(4096);
    const CliRun::Result full = Run({"report", File("old.pdf")});
    EXPECT_EQ(full.exitCode, 5) << full.err;
    EXPECT_NE(full.err.find("Failed to save card report: Cannot write to file: " + File("old.pdf")),
              std::string::npos)
        << full.err;
    EXPECT_EQ(ReadFileBytes(File("old.pdf")), "the report of the last visit");
}

} // namespace
