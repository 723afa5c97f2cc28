// tolvaren-sim: serves the full simulated card on a pseudo-terminal, so that the tool (or any
// other Modbus RTU master) talks to it through a serial port path as it would to a card; or a
// calibration rig (two cards, or a card and the calibration board) on two of them.

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include <atomic>
#include <thread>

#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/make_shared.hpp>

#include "simulator/FullCardSimulator.h"
#include "simulator/SimulatorSerialBridge.h"
#include "simulator/serve/PacedNullModem.h"
#include "simulator/serve/RigServer.h"

namespace {

const char usage[] =
    "Usage: tolvaren-sim [options]\n"
    "Serves a simulated Tolvaren card (24 inputs, 24 outputs) on a pseudo-terminal and prints\n"
    "its path. Start the tool with the TOLVAREN_EXTRA_SERIAL_PORTS line it prints and choose\n"
    "COM300; any other Modbus RTU master (node 1, 8N1) may open the path too. Stops on Ctrl+C.\n"
    "\n"
    "  --baud N           pace the line as N baud, 8N1 (default 115200)\n"
    "  --no-pacing        pass bytes at once instead of at the line's pace\n"
    "  --reply-delay MS   hold every reply MS milliseconds longer (a USB adapter's latency)\n"
    "  --link PATH        also make PATH a symbolic link to the served port\n"
    "\n"
    "Calibration rig (instead of the full card; COM300 and COM301 in the tool):\n"
    "  --rig input        an Input Card to calibrate (COM300) and the calibration board\n"
    "                     (COM301, always 9600 baud) routing its references to the card\n"
    "  --rig output       a calibrated Input Card (COM300) measuring an Output Card (COM301);\n"
    "                     type j and Enter (or send SIGUSR1) to fit or remove the jumpers\n"
    "                     for current\n"
    "  --card-version N   register-map version of the rig's cards (default 10)\n"
    "  --hardware-rev N   hardware revision of the rig's cards (default 3)\n"
    "  --seed N           draws the rig's true errors (default 1)\n"
    "  --noise COUNTS     peak noise on every reading, in ADC counts (default 0)\n"
    "  --show-errors      print the rig's true errors\n"
    "  -h, --help         show this text\n";

// The served port's number in the tool when the printed variable names only this path.
const int toolPortNumber = 300;

struct Options
{
    PacedNullModem::Settings line;
    std::string link;
    std::string rig; // empty, "input" or "output"
    CalibrationRig::Setup setup;
    double noise = 0.0;
    bool showErrors = false;
};

[[noreturn]] void Refuse(const std::string& message)
{
    std::cerr << "tolvaren-sim: " << message << "\n" << usage;
    std::exit(2);
}

// A whole number (or, with fraction, a decimal one) within [low, high]; refused otherwise.
double Number(const std::string& option, const char* text, double low, double high, bool fraction)
{
    if (!text)
        Refuse(option + " needs a value");
    std::istringstream in(text);
    double value = 0.0;
    long long whole = 0;
    bool read = fraction ? bool(in >> value) : bool(in >> whole);
    if (!fraction)
        value = double(whole);
    if (!read || !in.eof() || value < low || value > high)
        Refuse(std::string("bad value for ") + option + ": " + text);
    return value;
}

Options Parse(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "-h" || arg == "--help") {
            std::cout << usage;
            std::exit(0);
        } else if (arg == "--no-pacing") {
            options.line.paced = false;
        } else if (arg == "--baud") {
            options.line.baudRate = unsigned(Number(arg, value, 50, 4000000, false));
            ++i;
        } else if (arg == "--reply-delay") {
            const double ms = Number(arg, value, 0, 60000, true);
            options.line.replyDelay = std::chrono::microseconds(std::llround(ms * 1000));
            ++i;
        } else if (arg == "--rig") {
            if (!value || (std::string(value) != "input" && std::string(value) != "output"))
                Refuse("--rig needs input or output");
            options.rig = value;
            ++i;
        } else if (arg == "--card-version") {
            options.setup.registerMapVersion = std::uint16_t(Number(arg, value, 1, 65535, false));
            ++i;
        } else if (arg == "--hardware-rev") {
            options.setup.hardwareRevision = std::uint16_t(Number(arg, value, 0, 65535, false));
            ++i;
        } else if (arg == "--seed") {
            options.setup.seed = std::uint32_t(Number(arg, value, 0, 4294967295.0, false));
            ++i;
        } else if (arg == "--noise") {
            options.noise = Number(arg, value, 0, 10000, true);
            ++i;
        } else if (arg == "--show-errors") {
            options.showErrors = true;
        } else if (arg == "--link") {
            if (!value || !*value)
                Refuse("--link needs a path");
            options.link = value;
            ++i;
        } else {
            Refuse("unknown option " + arg);
        }
    }
    return options;
}

// Replaces an old link of ours, never a file.
void MakeLink(const std::string& target, const std::string& link)
{
    struct stat st;
    if (::lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode))
            throw std::runtime_error(link + " exists and is not a symbolic link");
        ::unlink(link.c_str());
    }
    if (::symlink(target.c_str(), link.c_str()) != 0)
        throw std::runtime_error("cannot make the link " + link + ": " + std::strerror(errno));
}

// Lines on standard input until stop: "j" toggles the rig's jumpers for current.
void ReadCommands(RigServer& rig, const std::atomic<bool>& stop)
{
    std::string line;
    while (!stop) {
        pollfd in = {STDIN_FILENO, POLLIN, 0};
        if (::poll(&in, 1, 100) <= 0)
            continue;
        char c = 0;
        if (::read(STDIN_FILENO, &c, 1) != 1)
            return; // end of input: nobody types any more
        if (c != '\n') {
            line += c;
            continue;
        }
        if (line == "j") {
            std::cout << "Jumpers for current " << (rig.ToggleJumpers() ? "fitted" : "removed")
                      << std::endl;
        }
        line.clear();
    }
}

int ServeRig(const Options& options, sigset_t& stopSignals)
{
    // SIGUSR1 toggles the jumpers; blocked before the rig's threads start, like the others.
    sigaddset(&stopSignals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    const bool input = options.rig == "input";
    RigServer rig(input ? CalibrationRig::Kind::InputCard : CalibrationRig::Kind::OutputCard,
                  options.setup, options.noise, options.line);
    const char* pacing = options.line.paced ? "paced" : "not paced";
    std::cout << "Calibration rig (" << (input ? "Input Card" : "Output Card")
              << "), register-map version " << options.setup.registerMapVersion
              << ", hardware revision " << options.setup.hardwareRevision << ":\n"
              << "  COM300 " << (input ? "Input Card under test" : "measuring Input Card") << ": "
              << rig.ToolPath(0) << ", " << options.line.baudRate << " baud, " << pacing << "\n"
              << "  COM301 " << (input ? "calibration board" : "Output Card under test") << ": "
              << rig.ToolPath(1) << ", " << (input ? 9600u : options.line.baudRate) << " baud, "
              << pacing << "\n";
    if (!input)
        std::cout << "Type j and Enter (or send SIGUSR1) to fit or remove the jumpers for "
                     "current (removed now).\n";
    if (options.showErrors)
        std::cout << "True errors of the rig:\n" << rig.ErrorsText();
    std::cout << "Start the tool with the line below:\nTOLVAREN_EXTRA_SERIAL_PORTS="
              << rig.ToolPath(0) << ":" << rig.ToolPath(1) << std::endl;

    std::atomic<bool> stop{false};
    std::thread commands([&] { ReadCommands(rig, stop); });
    int signal = 0;
    for (;;) {
        sigwait(&stopSignals, &signal);
        if (signal != SIGUSR1)
            break;
        std::cout << "Jumpers for current " << (rig.ToggleJumpers() ? "fitted" : "removed")
                  << std::endl;
    }
    stop = true;
    commands.join();
    std::cout << "Stopped (" << strsignal(signal) << ")" << std::endl;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = Parse(argc, argv);

    // Every thread started from here on leaves these signals to the wait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // A reader of our output that has gone (tolvaren-sim | head) must not end the serving.
    std::signal(SIGPIPE, SIG_IGN);

    try {
        if (!options.rig.empty())
            return ServeRig(options, stopSignals);
        auto card = boost::make_shared<FullCardSimulator>();
        auto line = std::make_unique<PacedNullModem>(options.line);
        // The card's end is opened as a serial port of this process.
        ::setenv("TOLVAREN_EXTRA_SERIAL_PORTS", line->CardPath().c_str(), 1);
        SerialPortSettings port;
        port.port = toolPortNumber;
        auto bridge = std::make_unique<SimulatorSerialBridge>(card, port);
        if (!options.link.empty())
            MakeLink(line->ToolPath(), options.link);

        const std::string& served = options.link.empty() ? line->ToolPath() : options.link;
        std::cout << "Simulated card (register-map version "
                  << FullCardSimulator::registerMapVersion << ") served on " << line->ToolPath();
        if (!options.link.empty())
            std::cout << " (link " << options.link << ")";
        std::cout << ", " << options.line.baudRate << " baud 8N1, "
                  << (options.line.paced ? "paced" : "not paced");
        if (options.line.replyDelay.count() > 0)
            std::cout << ", replies " << options.line.replyDelay.count() / 1000.0 << " ms late";
        std::cout << "\nStart the tool with the line below and choose COM" << toolPortNumber
                  << ":\nTOLVAREN_EXTRA_SERIAL_PORTS=" << served << std::endl;

        int signal = 0;
        sigwait(&stopSignals, &signal);

        bridge.reset(); // stops talking before the line goes
        line.reset();
        if (!options.link.empty())
            ::unlink(options.link.c_str());
        std::cout << "Stopped (" << strsignal(signal) << ")" << std::endl;
    } catch (const std::exception& e) {
        std::cerr << "tolvaren-sim: " << e.what() << std::endl;
        return 1;
    }
    return 0;
}
