#include "app/AppOptions.h"

#include <gtest/gtest.h>

namespace {

struct OptionsCase
{
    std::vector<std::string> args;
    bool strict;
    bool help, version, simulate;
    std::string screenshot;
    std::string error;
};

TEST(AppOptionsTest, ParsesTheProgramsOwnOptions)
{
    const OptionsCase cases[] = {
        {{}, true, false, false, false, "", ""},
        {{"--simulate"}, true, false, false, true, "", ""},
        {{"--help"}, true, true, false, false, "", ""},
        {{"-h"}, true, true, false, false, "", ""},
        {{"--version"}, true, false, true, false, "", ""},
        {{"-v"}, true, false, true, false, "", ""},
        {{"--simulate", "--screenshot", "out.png"}, true, false, false, true, "out.png", ""},
        {{"--screenshot=docs/a b.png"}, true, false, false, false, "docs/a b.png", ""},
        {{"--screenshot"}, true, false, false, false, "", "--screenshot needs a file name"},
        {{"--bogus", "--simulate"}, true, false, false, true, "", "unknown argument: --bogus"},
        // Before the application object has taken out Qt's options, anything else is Qt's.
        {{"-platform", "offscreen", "--help"}, false, true, false, false, "", ""},
        {{"--screenshot"}, false, false, false, false, "", ""},
    };
    for (const OptionsCase& c : cases) {
        const AppOptions options = AppOptions::Parse(c.args, c.strict);
        std::string line;
        for (const std::string& a : c.args)
            line += a + " ";
        SCOPED_TRACE(line + (c.strict ? "(strict)" : "(lenient)"));
        EXPECT_EQ(options.help, c.help);
        EXPECT_EQ(options.version, c.version);
        EXPECT_EQ(options.simulate, c.simulate);
        EXPECT_EQ(options.screenshotPath, c.screenshot);
        EXPECT_EQ(options.error, c.error);
    }
}

TEST(AppOptionsTest, UsageNamesEveryOption)
{
    const std::string usage = AppOptions::Usage("TolvarenDiagnostics");
    for (const char* option : {"--simulate", "--screenshot FILE", "--help", "--version"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;
}

} // namespace
