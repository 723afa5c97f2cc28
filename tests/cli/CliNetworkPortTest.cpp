// tolvaren-cli on a network serial port: ser2net serving tolvaren-sim's card over RFC 2217.

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "tests/cli/CliRun.h"
#include "tests/support/FakeSysfs.h"
#include "tests/support/NetworkSerialServer.h"

namespace {

TEST(CliNetworkPortTest, IdentifyAndSaveConfigThroughAnRfc2217ServerAsOnThePortItself)
{
    FakeSysfs sysfs; // no real port of this machine takes part
    ServedCard card;
    ASSERT_FALSE(card.Path().empty()) << card.Process().Output();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString();
    CliRun cli;

    const CliRun::Result identify = cli.Run({"identify", "--port", card.Path()});
    ASSERT_EQ(identify.exitCode, 0) << identify.err;
    ASSERT_EQ(cli.Run({"save-config", folder + "/direct.dat", "--port", card.Path()}).exitCode, 0);

    NetworkSerialServer server(NetworkSerialServer::Ser2netRfc2217, card.Path(), folder);
    const CliRun::Result remote = cli.Run({"identify", "--port", server.Url()});
    EXPECT_EQ(remote.exitCode, 0) << remote.err;
    EXPECT_EQ(remote.out, identify.out);
    const CliRun::Result saved =
        cli.Run({"save-config", folder + "/remote.dat", "--port=" + server.Url()});
    EXPECT_EQ(saved.exitCode, 0) << saved.err;
    EXPECT_EQ(ReadFileBytes(folder + "/remote.dat"), ReadFileBytes(folder + "/direct.dat"));

    // A server that is not there is a port that cannot be used; a broken URL a usage error.
    const std::string gone = std::to_string(NetworkSerialServer::FreeTcpPort());
    const CliRun::Result refused = cli.Run({"identify", "--port", "tcp://127.0.0.1:" + gone});
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_NE(refused.err.find("Cannot connect to 127.0.0.1:" + gone + ": connection refused"),
              std::string::npos)
        << refused.err;
    const CliRun::Result broken = cli.Run({"identify", "--port", "rfc2217://127.0.0.1"});
    EXPECT_EQ(broken.exitCode, 2);
    EXPECT_NE(broken.err.find("the TCP port is missing"), std::string::npos) << broken.err;
}

} // namespace
