// tolvaren-cli's arguments, help and port handling, run as a user runs it.

#include <cstdlib>

#include <unistd.h>

#include <QProcess>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include "comms/SerialPlatform.h"
#include "tests/cli/CliRun.h"
#include "tests/support/FakeSysfs.h"
#include "tests/support/PtyPair.h"

namespace {

const std::vector<std::string> everyCommand = {
    "ports",      "identify",   "dump",          "save-config", "restore-config",
    "export-csv", "import-csv", "download-8day", "read-var",    "write-var"};

TEST(CliProgramTest, HelpNamesEveryCommandAndEachCommandHasItsOwn)
{
    CliRun cli;
    const CliRun::Result help = cli.Run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const std::string& command : everyCommand) {
        EXPECT_NE(help.out.find("  " + command), std::string::npos) << command;
        const CliRun::Result own = cli.Run({command, "--help"});
        EXPECT_EQ(own.exitCode, 0) << command;
        EXPECT_NE(own.out.find("Usage: tolvaren-cli [options] " + command), std::string::npos)
            << own.out;
        EXPECT_EQ(cli.Run({"help", command}).out, own.out) << command;
    }
    EXPECT_NE(help.out.find("Exit codes:"), std::string::npos);
}

TEST(CliProgramTest, BadArgumentsEndWithCodeTwoBeforeAnyPortIsOpened)
{
    FakeSysfs sysfs; // no port at all: reaching for one would end with code 3
    struct Case
    {
        std::vector<std::string> arguments;
        const char* says;
    };
    const Case cases[] = {
        {{}, "no command given"},
        {{"frobnicate"}, "unknown command frobnicate"},
        {{"identify", "extra"}, "identify takes no arguments"},
        {{"save-config"}, "save-config takes FILE.dat"},
        {{"write-var", "OnlyName"}, "write-var takes NAME VALUE"},
        {{"identify", "--node", "0"}, "bad value for --node"},
        {{"identify", "--node", "248"}, "bad value for --node"},
        {{"identify", "--timeout", "5x"}, "bad value for --timeout"},
        {{"identify", "--port"}, "--port needs a value"},
        {{"identify", "--port", "COMX"}, "bad value for --port"},
        {{"identify", "--bogus"}, "unknown option --bogus"},
    };
    CliRun cli;
    for (const Case& c : cases) {
        const CliRun::Result result = cli.Run(c.arguments);
        EXPECT_EQ(result.exitCode, 2) << c.says;
        EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
        EXPECT_TRUE(result.out.empty()) << result.out;
    }
}

TEST(CliProgramTest, PortsListsWhatTheChooserListsAndNeedsNoCard)
{
    FakeSysfs sysfs;
    PtyPair adapter, extra;
    sysfs.AddUsbAdapter("ttyUSB0", adapter.SlavePath(), "FT232R USB UART");
    ::setenv("TOLVAREN_EXTRA_SERIAL_PORTS", extra.SlavePath().c_str(), 1);
    CliRun cli;

    const CliRun::Result text = cli.Run({"ports"});
    EXPECT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("COM200 - FT232R USB UART"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("COM300 - "), std::string::npos) << text.out;

    const CliRun::Result json = cli.Run({"ports", "--json"});
    const QJsonArray ports = QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).array();
    ASSERT_EQ(ports.size(), 2) << json.out;
    EXPECT_EQ(ports[0].toObject()["port"].toInt(), 200);
    EXPECT_TRUE(ports[0].toObject()["usb"].toBool());
    EXPECT_EQ(ports[1].toObject()["device"].toString().toStdString(), extra.SlavePath());
    ::unsetenv("TOLVAREN_EXTRA_SERIAL_PORTS");

    FakeSysfs none;
    const CliRun::Result empty = cli.Run({"ports"});
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_EQ(empty.out, "No ports found\n");
}

TEST(CliProgramTest, PortsThatCannotBeUsedEndWithCodeThreeAndTheWindowsText)
{
    FakeSysfs sysfs;
    CliRun cli;

    const CliRun::Result unknown = cli.Run({"identify", "--port", "COM7"});
    EXPECT_EQ(unknown.exitCode, 3);
    EXPECT_NE(unknown.err.find("COM7: Requested port is unavailable (error-code 2)"),
              std::string::npos)
        << unknown.err;

    const CliRun::Result missingPath = cli.Run({"identify", "--port", "/nonexistent/tty"});
    EXPECT_EQ(missingPath.exitCode, 3);
    EXPECT_NE(missingPath.err.find("Requested port is unavailable"), std::string::npos);

    const CliRun::Result noneToChoose = cli.Run({"identify"});
    EXPECT_EQ(noneToChoose.exitCode, 3);
    EXPECT_NE(noneToChoose.err.find("No ports found"), std::string::npos) << noneToChoose.err;

    PtyPair first, second;
    sysfs.AddUsbAdapter("ttyUSB0", first.SlavePath(), "FT232R USB UART");
    sysfs.AddUsbAdapter("ttyUSB1", second.SlavePath(), "FT232R USB UART");
    const CliRun::Result many = cli.Run({"identify"});
    EXPECT_EQ(many.exitCode, 3);
    EXPECT_NE(many.err.find("Many ports available - manual choice needed"), std::string::npos)
        << many.err;

    // Another program holds the port: refused at once, not waited for.
    auto held = SerialPlatform::Port::OpenExclusive(first.SlavePath());
    const CliRun::Result busy = cli.Run({"identify", "--port", "COM200"});
    EXPECT_EQ(busy.exitCode, 3);
    EXPECT_NE(busy.err.find("COM200: Requested port is unavailable (error-code "),
              std::string::npos)
        << busy.err;
}

TEST(CliProgramTest, ACardThatNeverAnswersEndsWithCodeFour)
{
    FakeSysfs sysfs;
    PtyPair silent; // nobody reads or answers at the far end
    CliRun cli;
    const CliRun::Result result =
        cli.Run({"identify", "--port", silent.SlavePath(), "--timeout", "100"});
    EXPECT_EQ(result.exitCode, 4);
    EXPECT_NE(result.err.find("Invalid response from card: No reply from node"), std::string::npos)
        << result.err;
}

// The program run as a user without rights to the port (the test, as root, drops them for the
// child) says how to get them, as the port list does.
TEST(CliProgramTest, APortTheUserMayNotOpenGivesTheDialoutHint)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "runs the program as another user, which needs root";
    PtyPair port; // root's, closed to other users
    QProcess cli;
    cli.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", TOLVAREN_CLI_PROGRAM,
                          "identify", "--port", QString::fromStdString(port.SlavePath())});
    ASSERT_TRUE(cli.waitForFinished(30000)) << cli.errorString().toStdString();
    const std::string err = cli.readAllStandardError().toStdString();
    EXPECT_EQ(cli.exitCode(), 3) << err;
    EXPECT_NE(err.find("Requested port is unavailable (error-code 13) - no permission (add the "
                       "user to the dialout group)"),
              std::string::npos)
        << err;
}

} // namespace
