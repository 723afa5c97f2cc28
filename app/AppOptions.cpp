#include "app/AppOptions.h"

AppOptions AppOptions::Parse(const std::vector<std::string>& args, bool strict)
{
    AppOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version" || arg == "-v") {
            options.version = true;
        } else if (arg == "--simulate") {
            options.simulate = true;
        } else if (arg == "--screenshot") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                if (strict && options.error.empty())
                    options.error = "--screenshot needs a file name";
                continue;
            }
            options.screenshotPath = args[++i];
        } else if (arg.compare(0, 13, "--screenshot=") == 0 && arg.size() > 13) {
            options.screenshotPath = arg.substr(13);
        } else if (strict && options.error.empty()) {
            options.error = "unknown argument: " + arg;
        }
    }
    return options;
}

std::string AppOptions::Usage(const std::string& programName)
{
    return "Usage: " + programName +
           " [options]\n"
           "Diagnostics and commissioning of Tolvaren I/O cards over Modbus RTU.\n"
           "\n"
           "Options:\n"
           "  --simulate         start with the simulated card instead of waiting for a port\n"
           "  --screenshot FILE  save a PNG of the window once the card face is shown and\n"
           "                     refreshed, then quit (with --simulate: no card needed)\n"
           "  -h, --help         show this text and quit\n"
           "  -v, --version      show the version and quit\n"
           "\n"
           "Qt's own options (-platform, -style, ...) are accepted as well.\n";
}

std::string AppOptions::VersionText()
{
    return std::string("Tolvaren Diagnostics ") + TOLVAREN_VERSION_TEXT + "\n";
}
