#include "cli/CliOptions.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace {

struct Command
{
    const char* name;
    const char* arguments; // as shown in the usage
    unsigned count;        // number of arguments
    const char* summary;
    const char* details;
};

const Command commands[] = {
    {"ports", "", 0, "list the serial ports as the port chooser lists them",
     "Lists every serial port present with its COM number and description, busy ones too. A port\n"
     "that this user may not open ends in \" - no permission (add the user to the dialout\n"
     "group)\". Needs no card. With --json: an array of {port, device, name, description, usb}.\n"},
    {"identify", "", 0,
     "card type, firmware, hardware, register map, serial number, voltage, health",
     "Reads the card's identity: card type, firmware version, hardware revision, register-map\n"
     "version, serial number, board voltage and health. Quick: a handful of requests.\n"},
    {"dump", "", 0, "everything the card holds, as JSON",
     "Gathers the whole card as the window does when it connects and prints it as JSON: the\n"
     "card's identity and state, the watchdog, and every point with its value, raw value, unit,\n"
     "label, scaling profile, part number, limits, offset, override, date and note.\n"},
    {"save-config", "FILE.dat", 1, "save the card's configuration image to a .dat file",
     "Reads the card's configuration image (configuration data, point notes, Control Module\n"
     "block) and writes it to FILE.dat, the file the window's \"Save card config to file\" "
     "writes.\n"
     "The file is replaced only once the whole image has been read and written.\n"},
    {"restore-config", "FILE.dat", 1, "write a saved image into the card and check it",
     "Writes a configuration image saved by save-config or by the window into the card. Asks\n"
     "for confirmation unless --yes is given (answer y on standard input). Before writing, the\n"
     "card's present image is kept as a safety copy in the folder the window uses\n"
     "(<local data>/ConfigBackups/<serial>_<time>.dat). Afterwards the image is read back and\n"
     "compared with the file; a difference fails with exit code 6.\n"},
    {"export-csv", "FILE", 1, "write the card's configuration summary as CSV",
     "Writes the window's configuration CSV: identity, configuration text, watchdog and one\n"
     "line per point with label, profile, part number, offset or override, date, notes, value\n"
     "and unit.\n"},
    {"import-csv", "FILE", 1, "write labels, part numbers and notes from a CSV file",
     "Reads point labels, part numbers and notes from FILE, lines such as\n"
     "  I1, Label for Input 1, Part number, Notes\n"
     "(Input n, Output n, In or On), lists them and writes them into the card after\n"
     "confirmation (or at once with --yes). Lines that name no point of the card are ignored.\n"},
    {"download-8day", "FILE.csv", 1, "download the 8-day data of every point as CSV",
     "Reads the 8-day data of every point and writes the window's CSV file: a time column and\n"
     "one column per point. Progress is shown on standard error. A reply lost on the line is\n"
     "asked for again, up to 3 times for one request; the progress counts these retries.\n"
     "Ctrl+C stops the download; the file keeps the lines already written.\n"},
    {"report", "FILE", 1, "write a commissioning report of the card (.pdf or .html)",
     "Reads the whole card, its control modules and (with --with-graphs) the 8-day data of every\n"
     "point, and writes a report: header, card-wide settings, one row per point, the modules'\n"
     "parameters, the changes since the \"as found\" reading and the graphs. FILE ending in .pdf\n"
     "gives a PDF (--paper a4 or letter), .html one self-contained HTML file. The file is\n"
     "replaced only once the whole report is written. With --json the report's content is\n"
     "printed as JSON; it serves as a later report's --as-found.\n"
     "  --as-found FILE.json  the card as found: an earlier dump --json or report --json of\n"
     "                        the same card (default: this reading, so no changes are listed)\n"
     "  --with-graphs         an 8-day graph per point (progress on standard error)\n"
     "  --paper a4|letter     the PDF's paper (default a4)\n"},
    {"read-var", "NAME", 1, "read a named variable",
     "Reads the named variable NAME and prints its value (floats with 4 decimals).\n"},
    {"write-var", "NAME VALUE", 2, "write a named variable",
     "Writes VALUE into the named variable NAME, in the type the variable has now: a float, an\n"
     "unsigned number, a list of floats separated by commas, or text. With --as-text the value\n"
     "is sent as text for the card to convert, as the window's named-variable dialog sends it.\n"},
};

const Command* Find(const std::string& name)
{
    for (const Command& c : commands)
        if (name == c.name)
            return &c;
    return nullptr;
}

const char commonOptions[] =
    "Options (before or after the command; a value may also follow as --port=PORT):\n"
    "  --port PORT     COMn, n, a device path, or a network serial port tcp://HOST:PORT (raw)\n"
    "                  or rfc2217://HOST:PORT (default: the window's automatic choice, the\n"
    "                  only available port or else the only USB one)\n"
    "  --node N        the card's Modbus node address, 1..247 (default 1)\n"
    "  --timeout MS    how long to wait for each reply, 50..60000 ms (default 1000)\n"
    "  --json          results as JSON on standard output\n"
    "  --yes           write into the card without asking\n"
    "  --as-text       write-var: send the value as text\n"
    "  --as-found FILE, --with-graphs, --paper a4|letter\n"
    "                  report: see tolvaren-cli report --help\n"
    "  -h, --help      this text; with a command, that command's help\n"
    "  --version       the program's version\n";

const char exitCodes[] =
    "Exit codes:\n"
    "  0  done\n"
    "  1  the card refused or failed the operation (the window's text says why)\n"
    "  2  bad arguments\n"
    "  3  no usable serial port (unknown, held by another program, none or several to choose)\n"
    "  4  the card did not answer\n"
    "  5  a file could not be read or written, or standard output could not be written\n"
    "  6  restore-config: the image read back differs from the file\n"
    "  7  not confirmed: nothing was written\n"
    "  130 stopped by Ctrl+C\n";

int Number(const std::string& option, const std::string& text, int low, int high)
{
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < low || value > high) {
        std::ostringstream message;
        message << "bad value for " << option << ": \"" << text << "\" (" << low << ".." << high
                << ")";
        throw CliOptions::UsageError(message.str());
    }
    return int(value);
}

} // namespace

CliOptions CliOptions::Parse(const std::vector<std::string>& args)
{
    CliOptions options;
    std::vector<std::string> words;
    bool onlyWords = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        // "--name=value" as GNU programs take it: the value is the rest of the word, which may
        // be empty (refused below) and may itself hold '='.
        std::string attached;
        bool hasAttached = false;
        if (!onlyWords && arg.compare(0, 2, "--") == 0 && arg.find('=') != std::string::npos) {
            const std::size_t eq = arg.find('=');
            attached = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasAttached = true;
        }
        auto value = [&]() -> std::string {
            if (hasAttached)
                return attached;
            if (i + 1 >= args.size())
                throw UsageError(arg + " needs a value");
            return args[++i];
        };
        auto flag = [&]() {
            if (hasAttached)
                throw UsageError(arg + " takes no value");
            return true;
        };
        if (onlyWords || arg.empty() || arg[0] != '-' || arg == "-") {
            words.push_back(arg);
        } else if (arg == "--" && !hasAttached) {
            onlyWords = true; // a value that starts with '-' follows
        } else if (arg == "-h" || arg == "--help") {
            options.help = flag();
        } else if (arg == "--version") {
            options.version = flag();
        } else if (arg == "--json") {
            options.json = flag();
        } else if (arg == "--as-text") {
            options.asText = flag();
        } else if (arg == "--as-found") {
            options.asFound = value();
            if (options.asFound.empty())
                throw UsageError("--as-found needs a value");
        } else if (arg == "--with-graphs") {
            options.withGraphs = flag();
        } else if (arg == "--paper") {
            options.paper = value();
            if (options.paper != "a4" && options.paper != "letter")
                throw UsageError("bad value for --paper: \"" + options.paper + "\" (a4 or letter)");
        } else if (arg == "--yes" || arg == "-y") {
            options.yes = flag();
        } else if (arg == "--port") {
            options.port = value();
            if (options.port.empty())
                throw UsageError("--port needs a value");
        } else if (arg == "--node") {
            options.nodeAddress = Number(arg, value(), 1, 247);
        } else if (arg == "--timeout") {
            options.timeoutMs = unsigned(Number(arg, value(), 50, 60000));
        } else {
            throw UsageError("unknown option " + arg);
        }
    }
    if (!words.empty()) {
        options.command = words.front();
        options.arguments.assign(words.begin() + 1, words.end());
    }
    if (options.command == "help") { // "help COMMAND" as "COMMAND --help"
        options.help = true;
        options.command = options.arguments.empty() ? std::string() : options.arguments.front();
        options.arguments.clear();
    }
    if (!options.command.empty() && !IsCommand(options.command))
        throw UsageError("unknown command " + options.command);
    if (options.help || options.version)
        return options;
    if (options.command.empty())
        throw UsageError("no command given");
    const Command* command = Find(options.command);
    if (options.arguments.size() != command->count) {
        std::string message = options.command + " takes ";
        message +=
            command->count == 0 ? std::string("no arguments") : std::string(command->arguments);
        throw UsageError(message);
    }
    return options;
}

bool CliOptions::IsCommand(const std::string& command)
{
    return Find(command) != nullptr;
}

std::string CliOptions::Usage()
{
    std::ostringstream text;
    text << "Usage: tolvaren-cli [options] COMMAND [arguments]\n"
            "Talks to a Tolvaren card on a serial port as the Tolvaren Diagnostics window does,\n"
            "for scripts: commissioning, backups, data collection.\n\nCommands:\n";
    for (const Command& c : commands) {
        std::string left = std::string(c.name) + (*c.arguments ? " " : "") + c.arguments;
        left.resize(std::max<std::size_t>(left.size() + 2, 26), ' ');
        text << "  " << left << c.summary << "\n";
    }
    text << "\n" << commonOptions << "\n" << exitCodes;
    return text.str();
}

std::string CliOptions::CommandUsage(const std::string& command)
{
    const Command* c = Find(command);
    if (!c)
        return Usage();
    std::ostringstream text;
    text << "Usage: tolvaren-cli [options] " << c->name << (*c->arguments ? " " : "")
         << c->arguments << "\n"
         << c->details << "\n"
         << commonOptions << "\n"
         << exitCodes;
    return text.str();
}
