// tolvaren-cli: the command-line companion of Tolvaren Diagnostics, for scripted commissioning
// and backups. See CliOptions.cpp for the commands and the exit codes.

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QGuiApplication>

#include "cli/CliCommands.h"
#include "cli/CliErrors.h"
#include "cli/CliInterrupt.h"
#include "cli/CliOptions.h"

namespace {

// Whether everything sent to standard output reached it. A result lost on a full disk or a
// closed stream must fail the run: a script would otherwise keep an empty file as a good one.
bool StandardOutputWritten()
{
    std::cout.flush();
    return std::cout.good() && std::fflush(stdout) == 0 && !std::ferror(stdout);
}

int Finish(int code)
{
    if (code == Cli::Done && !StandardOutputWritten()) {
        std::cerr << "tolvaren-cli: Cannot write to standard output" << std::endl;
        return Cli::FileFailed;
    }
    return code;
}

} // namespace

// The report command runs on Qt's offscreen platform, whose plug-in keeps a few hundred bytes
// for the life of the process; a sanitizer build must not end every report with a leak report.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libqoffscreen.so\n";
}

int main(int argc, char** argv)
{
    // Before any thread exists, so that every thread leaves Ctrl+C to the interrupt's own.
    CliInterrupt::Install();

    // The window's identity: the safety copies of a restore go where the window keeps them.
    QCoreApplication::setOrganizationName(QStringLiteral("QEL"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("tolvaren.com"));
    QCoreApplication::setApplicationName(QStringLiteral("TolvarenDiagnostics"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TOLVAREN_VERSION_TEXT));

    CliOptions options;
    try {
        options = CliOptions::Parse(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const CliOptions::UsageError& e) {
        std::cerr << "tolvaren-cli: " << e.what() << "\nSee tolvaren-cli --help.\n";
        return Cli::BadArguments;
    }
    // The report lays out text and draws graphs, which needs fonts: a GUI application, on the
    // offscreen platform, as the program never shows a window and may run without a display.
    std::unique_ptr<QCoreApplication> app;
    if (options.command == "report" && !options.help) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    if (options.help) {
        std::cout << (options.command.empty() ? CliOptions::Usage()
                                              : CliOptions::CommandUsage(options.command));
        return Finish(Cli::Done);
    }
    if (options.version) {
        std::cout << "tolvaren-cli " << TOLVAREN_VERSION_TEXT << "\n";
        return Finish(Cli::Done);
    }

    try {
        CliCommands commands(options);
        commands.Run();
        return Finish(Cli::Done);
    } catch (const Cli::Error& e) {
        std::cerr << "tolvaren-cli: " << e.what() << std::endl;
        if (e.Code() == Cli::BadArguments)
            std::cerr << "See tolvaren-cli " << options.command << " --help.\n";
        return e.Code();
    } catch (const CliInterrupt::Stopped&) {
        std::cerr << "Stopped." << std::endl;
        return Cli::Stopped;
    } catch (const std::exception& e) {
        std::cerr << "tolvaren-cli: " << e.what() << std::endl;
        return Cli::OperationFailed;
    }
}
