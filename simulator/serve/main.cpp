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
#include <mutex>

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/make_shared.hpp>

#include "simulator/FaultInjector.h"
#include "simulator/FullCardSimulator.h"
#include "simulator/SimulatorSerialBridge.h"
#include "simulator/serve/CommandInput.h"
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
    "  --fault FAULT      start with a fault on the line (see Faults)\n"
    "  --control PATH     also read commands from the named pipe PATH (made if missing)\n"
    "\n"
    "Commands (typed lines, or lines written to the --control pipe):\n"
    "  f FAULT            switch the fault, e.g. f late-reply, f none\n"
    "  s                  print the counts: requests, faults, snapshot cycles served\n"
    "\n"
    "Faults: FAULT is NAME [every=N] [ms=T] [code=C]; the fault hits every Nth request:\n"
    "  none               the card answers normally\n"
    "  no-reply           the request is swallowed\n"
    "  late-reply         the reply comes T ms after the request (default 1500, past the\n"
    "                     tool's 1000 ms time-out)\n"
    "  bad-crc            the reply's CRC is wrong\n"
    "  garbage            a few random bytes come before the reply\n"
    "  chunks             the reply comes in pieces of 8 bytes, T ms apart (default 20)\n"
    "  exception          an exception reply with code C (default 4) instead of the answer\n"
    "  hangup             the port hangs up (the path vanishes) and comes back at the same\n"
    "                     path after T ms (default 2000)\n"
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

// Input register of the board voltage: the first read of every snapshot the tool gathers.
const unsigned short boardVoltageRegister = 904;

struct Options
{
    PacedNullModem::Settings line;
    std::string link;
    std::string control;
    FaultInjector::Setting fault;
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
        } else if (arg == "--fault") {
            if (!value)
                Refuse("--fault needs a fault");
            try {
                options.fault = FaultInjector::Parse(value);
            } catch (const std::invalid_argument& e) {
                Refuse(std::string("--fault: ") + e.what());
            }
            ++i;
        } else if (arg == "--control") {
            if (!value || !*value)
                Refuse("--control needs a path");
            options.control = value;
            ++i;
        } else if (arg == "--link") {
            if (!value || !*value)
                Refuse("--link needs a path");
            options.link = value;
            ++i;
        } else {
            Refuse("unknown option " + arg);
        }
    }
    if (!options.rig.empty() && options.fault.fault != FaultInjector::Fault::None)
        Refuse("--fault serves the single card only, not a rig");
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

// Lines from the command thread, the line's relay and the main thread do not mix.
std::mutex outputMutex;

void Say(const std::string& line)
{
    std::lock_guard<std::mutex> lock(outputMutex);
    std::cout << line << std::endl;
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
        std::cout << "Type j and Enter (or send SIGUSR1, or write j to the --control pipe) to "
                     "fit or remove the jumpers for current (removed now).\n";
    if (options.showErrors)
        std::cout << "True errors of the rig:\n" << rig.ErrorsText();
    std::cout << "Start the tool with the line below:\nTOLVAREN_EXTRA_SERIAL_PORTS="
              << rig.ToolPath(0) << ":" << rig.ToolPath(1) << std::endl;

    auto toggle = [&rig] {
        Say(std::string("Jumpers for current ") + (rig.ToggleJumpers() ? "fitted" : "removed"));
    };
    CommandInput commands(options.control, [&](const std::string& line) {
        if (line == "j")
            toggle();
    });
    int signal = 0;
    for (;;) {
        sigwait(&stopSignals, &signal);
        if (signal != SIGUSR1)
            break;
        toggle();
    }
    Say(std::string("Stopped (") + strsignal(signal) + ")");
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
        auto injector = std::make_shared<FaultInjector>();
        injector->Set(options.fault);
        std::atomic<unsigned long long> cycles{0};
        SimulatorSerialBridge::Faults faults;
        faults.injector = injector;
        PacedNullModem* modem = line.get();
        faults.hangUp = [modem](unsigned ms) { modem->HangUp(ms); };
        faults.requestSeen = [&cycles](const ByteVec& request) {
            if (request.size() >= 4 && request[1] == 4 &&
                ((request[2] << 8) | request[3]) == boardVoltageRegister)
                ++cycles;
        };
        auto bridge = std::make_unique<SimulatorSerialBridge>(card, port, faults);
        if (!options.link.empty())
            MakeLink(line->ToolPath(), options.link);
        const std::string link = options.link;
        line->SetEventCallback([link](const std::string& event) {
            // The link goes with the port, and follows it should it come back at another path.
            if (!link.empty() && event.rfind("Port hung up", 0) == 0)
                ::unlink(link.c_str());
            const std::string back = "Port back at ";
            if (!link.empty() && event.compare(0, back.size(), back) == 0) {
                const std::string path =
                    event.substr(back.size(), event.find(' ', back.size()) - back.size());
                try {
                    MakeLink(path, link);
                } catch (const std::exception& e) {
                    Say(std::string("tolvaren-sim: ") + e.what());
                }
            }
            Say(event);
        });

        // Commands are taken before the port is announced: whoever reads the announcement may
        // write to the pipe at once.
        SimulatorSerialBridge* servingBridge = bridge.get();
        auto commands =
            std::make_unique<CommandInput>(options.control, [&](const std::string& command) {
                if (command == "s") {
                    const FaultInjector::Counts counts = injector->GetCounts();
                    Say("Stats: requests " + std::to_string(counts.requests) + ", faulted " +
                        std::to_string(counts.faulted) + ", fault switches " +
                        std::to_string(counts.switches) + ", snapshot cycles " +
                        std::to_string(cycles.load()) + ", held " +
                        std::to_string(servingBridge->HeldPieces()) + ", fault " +
                        FaultInjector::NameOf(injector->Current().fault));
                } else if (command.compare(0, 2, "f ") == 0 || command == "f") {
                    try {
                        injector->Set(FaultInjector::Parse(command.substr(1)));
                        Say("Fault: " + FaultInjector::Describe(injector->Current()));
                    } catch (const std::invalid_argument& e) {
                        Say(std::string("Refused: ") + e.what());
                    }
                } else if (!command.empty()) {
                    Say("Refused: unknown command " + command + " (f FAULT or s)");
                }
            });

        const std::string& served = options.link.empty() ? line->ToolPath() : options.link;
        std::ostringstream text;
        text << "Simulated card (register-map version " << FullCardSimulator::registerMapVersion
             << ") served on " << line->ToolPath();
        if (!options.link.empty())
            text << " (link " << options.link << ")";
        text << ", " << options.line.baudRate << " baud 8N1, "
             << (options.line.paced ? "paced" : "not paced");
        if (options.line.replyDelay.count() > 0)
            text << ", replies " << options.line.replyDelay.count() / 1000.0 << " ms late";
        text << "\nStart the tool with the line below and choose COM" << toolPortNumber
             << ":\nTOLVAREN_EXTRA_SERIAL_PORTS=" << served;
        Say(text.str());
        if (injector->IsOn())
            Say("Fault: " + FaultInjector::Describe(injector->Current()));

        int signal = 0;
        sigwait(&stopSignals, &signal);

        commands.reset(); // no command reaches what goes next
        bridge.reset();   // stops talking before the line goes
        line.reset();
        if (!options.link.empty())
            ::unlink(options.link.c_str());
        Say(std::string("Stopped (") + strsignal(signal) + ")");
    } catch (const std::exception& e) {
        std::cerr << "tolvaren-sim: " << e.what() << std::endl;
        return 1;
    }
    return 0;
}
