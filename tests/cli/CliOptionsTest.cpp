// tolvaren-cli's option parser: every option that takes a value takes it as the next word or
// after '=', as GNU-style programs do.

#include <gtest/gtest.h>

#include "cli/CliOptions.h"

namespace {

TEST(CliOptionsTest, ValuesFollowAsTheNextWordOrAfterAnEqualsSign)
{
    struct Case
    {
        std::vector<std::string> args;
        std::string port;
        int node;
        unsigned timeoutMs;
    };
    const Case cases[] = {
        {{"identify", "--port", "COM3", "--node", "5", "--timeout", "200"}, "COM3", 5, 200},
        {{"identify", "--port=COM3", "--node=5", "--timeout=200"}, "COM3", 5, 200},
        {{"--port=card-link", "identify"}, "card-link", 1, 1000},
        {{"--node=247", "identify", "--port", "7"}, "7", 247, 1000},
        // Only the first '=' separates: the rest belongs to the value.
        {{"identify", "--port=/tmp/a=b"}, "/tmp/a=b", 1, 1000},
    };
    for (const Case& c : cases) {
        const CliOptions options = CliOptions::Parse(c.args);
        EXPECT_EQ(options.command, "identify");
        EXPECT_EQ(options.port, c.port);
        EXPECT_EQ(options.nodeAddress, c.node);
        EXPECT_EQ(options.timeoutMs, c.timeoutMs);
    }
    // After "--" a word with '=' is an argument, not an option.
    const CliOptions words = CliOptions::Parse({"read-var", "--", "--port=x"});
    EXPECT_EQ(words.arguments, std::vector<std::string>{"--port=x"});
    EXPECT_TRUE(words.port.empty());
}

TEST(CliOptionsTest, EqualsFormsThatMakeNoSenseAreRefused)
{
    struct Case
    {
        std::vector<std::string> args;
        const char* says;
    };
    const Case cases[] = {
        {{"identify", "--port="}, "--port needs a value"},
        {{"identify", "--node="}, "bad value for --node"},
        {{"identify", "--node=248"}, "bad value for --node"},
        {{"identify", "--timeout=5x"}, "bad value for --timeout"},
        {{"identify", "--json=yes"}, "--json takes no value"},
        {{"identify", "--help=1"}, "--help takes no value"},
        {{"identify", "--bogus=1"}, "unknown option --bogus"},
    };
    for (const Case& c : cases) {
        try {
            CliOptions::Parse(c.args);
            ADD_FAILURE() << c.says << ": accepted";
        } catch (const CliOptions::UsageError& e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        }
    }
}

} // namespace
