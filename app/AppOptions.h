#pragma once

#include <string>
#include <vector>

// The program's own command-line options. Qt's options (-platform, -style, ...) are removed by
// the application object before the strict parse; before it exists, a lenient parse finds
// --help and --version so that they work without a display.
struct AppOptions
{
    bool help = false;
    bool version = false;
    bool simulate = false;          // start on the simulated card
    std::string screenshotPath;     // save the first refreshed card face here, then quit
    std::string error;              // not empty: the command line was refused

    // args excludes the program name. With strict false, unknown arguments are skipped.
    static AppOptions Parse(const std::vector<std::string>& args, bool strict);
    static std::string Usage(const std::string& programName);
    static std::string VersionText();
};
