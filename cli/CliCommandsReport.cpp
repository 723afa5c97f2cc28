// The commissioning report: the card read whole, compared with the reading it was found in,
// written as PDF or HTML.

#include <iostream>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include "cli/CliCardLink.h"
#include "cli/CliCommands.h"
#include "cli/CliErrors.h"
#include "cli/CliFailure.h"
#include "cli/CliFileNames.h"
#include "cli/CliInterrupt.h"
#include "cli/CliProgressBar.h"
#include "cli/CliReportGraphs.h"
#include "protocol/FileWriteError.h"
#include "report/CardReportData.h"
#include "report/CardReportDocument.h"
#include "report/CardReportReader.h"

namespace {

// An earlier reading is a few hundred kilobytes at most.
const qint64 maxReadingFileSize = 64 * 1024 * 1024;

QJsonObject ReadAsFound(const std::string& fileName)
{
    QFile file(FromArgument(fileName));
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxReadingFileSize)
        throw Cli::Error(Cli::FileFailed, "cannot read file " + fileName);
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Cli::Error(Cli::FileFailed, "cannot read file " + fileName);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (!document.isObject())
        throw Cli::Error(Cli::BadArguments,
                         "--as-found: " + fileName +
                             " is not the JSON of tolvaren-cli dump --json or report --json" +
                             (error.error != QJsonParseError::NoError
                                  ? " (" + error.errorString().toStdString() + ")"
                                  : std::string()));
    return document.object();
}

} // namespace

void CliCommands::Report()
{
    const std::string& fileName = m_options.arguments.at(0);
    const QString name = FromArgument(fileName);
    try {
        CardReportDocument::FormatOfFile(name);
    } catch (const std::exception& e) {
        throw Cli::Error(Cli::BadArguments, e.what());
    }
    const CardReportDocument::GraphPainter painter =
        m_options.withGraphs ? CliReportGraphPainter() : CardReportDocument::GraphPainter();
    if (m_options.withGraphs && !painter)
        throw Cli::Error(Cli::BadArguments, "--with-graphs: this build of tolvaren-cli draws no "
                                            "graphs (it was built without the windows)");
    ReportContext context;
    if (!m_options.asFound.empty()) {
        context.asFound = ReadAsFound(m_options.asFound);
        context.asFoundSource = "the reading in " + FromArgument(m_options.asFound);
        const QString made = context.asFound.value("report").toObject().value("made").toString();
        if (!made.isEmpty())
            context.asFoundSource += ", made " + made;
    }

    // Progress for the 8-day download only: without it the reading takes a few seconds.
    ProgressBar bar("Reading the card and its 8-day data");
    const bool withGraphs = m_options.withGraphs;
    CardReportReader reader(Link().Datalink(), withGraphs, [&bar, withGraphs](float percent) {
        if (withGraphs)
            bar.Show(percent);
    });
    boost::future<CardReading> done = reader.Start();
    try {
        CliInterrupt::Scope stoppable(CliInterrupt::Stoppable);
        CliInterrupt::WaitOrStop(done);
    } catch (const CliInterrupt::Stopped&) {
        reader.InterruptAndJoin();
        if (withGraphs)
            bar.End();
        std::cerr << "Report stopped; nothing was written." << std::endl;
        throw;
    }
    if (withGraphs)
        bar.End();
    CardReading reading;
    try {
        reading = done.get();
    } catch (...) {
        Cli::FailWithCardText();
    }

    context.made = QDateTime::currentDateTime();
    context.port = QStringLiteral("COM%1").arg(Link().PortNumber());
    if (!m_options.port.empty())
        context.port += " (" + QString::fromStdString(m_options.port) + ")";
    QJsonObject data;
    try {
        data = BuildReportData(reading, context);
    } catch (const std::exception& e) {
        throw Cli::Error(Cli::BadArguments, std::string("--as-found: ") + e.what());
    }
    int pages = 0;
    try {
        CliInterrupt::Scope finishing(CliInterrupt::Finishing);
        const CardReportDocument document(data, CardReportDocument::DrawGraphs(reading, painter));
        pages = document.Write(name, m_options.paper == "letter" ? CardReportDocument::Letter
                                                                 : CardReportDocument::A4);
    } catch (const FileWriteError& e) {
        throw Cli::Error(Cli::FileFailed, std::string("Failed to save card report: ") + e.what());
    } catch (...) {
        Cli::FailWith("Failed to save card report: ");
    }
    if (m_options.json) {
        PrintJson(data);
        return;
    }
    Say("Created " + fileName + " (" + std::to_string(pages) + (pages == 1 ? " page)" : " pages)"));
}
