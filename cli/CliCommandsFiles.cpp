// The sub-commands that move files between the card and the disk: configuration image, the
// configuration CSV, the points import and the 8-day data.

#include <cmath>
#include <cstdio>
#include <iostream>

#include <QFile>
#include <QFileInfo>
#include <QJsonObject>

#include "cli/CliCardLink.h"
#include "cli/CliCommands.h"
#include "cli/CliErrors.h"
#include "cli/CliFailure.h"
#include "cli/CliFileNames.h"
#include "cli/CliInterrupt.h"
#include "cli/CliProgressBar.h"
#include "modbus/ModbusErrors.h"
#include "protocol/CardConfigCsv.h"
#include "protocol/CardConfigImage.h"
#include "protocol/CardConfigSafetyCopy.h"
#include "protocol/FileWriteError.h"
#include "protocol/HistoricalDataDownloader.h"
#include "protocol/TolvarenCommsCommon.h"
#include "protocol/TolvarenSnapshotGatherer.h"
#include "protocol/WholeFileWriter.h"

namespace {

// An image is a few kilobytes; a file far beyond that is not one, and is not read into memory.
const qint64 maxImageFileSize = 16 * 1024 * 1024;
// A card that restarts after a restore may need a few replies' time before it answers again.
const int readBackAttempts = 5;

ByteVec ReadWholeFile(const std::string& fileName, const std::string& prefix)
{
    QFile file(FromArgument(fileName));
    if (!file.open(QIODevice::ReadOnly))
        throw Cli::Error(Cli::FileFailed, prefix + "cannot open file " + fileName);
    const qint64 length = file.size();
    if (length < 0 || length > maxImageFileSize)
        throw Cli::Error(Cli::FileFailed, prefix + "cannot read file " + fileName);
    ByteVec bytes(static_cast<std::size_t>(length));
    if (length > 0 && file.read(reinterpret_cast<char*>(bytes.data()), length) != length)
        throw Cli::Error(Cli::FileFailed, prefix + "cannot read file " + fileName);
    return bytes;
}

} // namespace

void CliCommands::SaveConfig()
{
    const std::string& fileName = m_options.arguments.at(0);
    const std::string prefix = "Failed to save card configuration: ";
    ByteVec image;
    std::uint16_t serial = 0;
    try {
        TolvarenCommsCommon comms(Link().Datalink());
        image = comms.GetCardConfig().get();
        serial = comms.ReadSingleRegister(false, TolvarenCommsCommon::regSerialNumber).get();
    } catch (...) {
        Cli::FailWith(prefix);
    }
    {
        CliInterrupt::Scope finishing(CliInterrupt::Finishing);
        try {
            WholeFileWriter::WriteFile(FromArgument(fileName), image);
        } catch (const FileWriteError&) {
            throw Cli::Error(Cli::FileFailed, "Cannot write to file: " + fileName);
        }
    }
    if (m_options.json) {
        QJsonObject result;
        result["file"] = QString::fromStdString(fileName);
        result["bytes"] = double(image.size());
        result["serialNumber"] = serial;
        PrintJson(result);
        return;
    }
    Say("Saved the configuration of card " + std::to_string(serial) + " to " + fileName + " (" +
        std::to_string(image.size()) + " bytes)");
}

void CliCommands::RestoreConfig()
{
    const std::string& fileName = m_options.arguments.at(0);
    const std::string prefix = "Failed to update card configuration: ";
    const ByteVec image = ReadWholeFile(fileName, prefix);
    TolvarenCommsCommon comms(Link().Datalink());

    // The image is checked against the card before anyone is asked, and before anything is
    // written; the restore checks it again.
    try {
        CardConfigImage::Parse(image, [&comms] { return comms.GetCardType(true).get(); });
    } catch (...) {
        Cli::FailWith(prefix);
    }
    Confirm("Proceeding will overwrite configuration data in the card, with the contents of the "
            "file:\n\n" +
            fileName + "\n\nAre you sure?");

    QString safetyCopy;
    try {
        safetyCopy = CardConfigSafetyCopy::Keep(comms);
    } catch (const FileWriteError& e) {
        // What the card holds is kept if it can be read at all; a copy that cannot be stored
        // stops the restore.
        throw Cli::Error(Cli::FileFailed, prefix + "no safety copy kept: " + e.what());
    } catch (const std::exception& e) {
        // A card whose image cannot be read (a blank or broken replacement) has nothing worth
        // keeping.
        std::cerr << "tolvaren-cli: no safety copy kept: the card's configuration cannot be read: "
                  << e.what() << std::endl;
    }
    try {
        CliInterrupt::Scope finishing(CliInterrupt::Finishing);
        comms.SetCardConfig(image).get();
    } catch (...) {
        Cli::FailWith(prefix);
    }
    CliInterrupt::StopIfRequested();

    // Read back with a new comms object: the card may have restarted, and nothing cached before
    // the restore may stand in for what it holds now.
    std::vector<std::string> differences;
    for (int attempt = 1;; ++attempt) {
        try {
            TolvarenCommsCommon fresh(Link().Datalink());
            const bool notes = fresh.AreIoPointNotesSupported().get();
            differences =
                CardConfigImage::RestoreDifferences(image, fresh.GetCardConfig().get(), notes);
            break;
        } catch (const Modbus::TimeoutError&) {
            if (attempt < readBackAttempts)
                continue;
            Cli::FailWith("Card configuration written, but it cannot be read back to check it: ");
        } catch (...) {
            Cli::FailWith("Card configuration written, but it cannot be read back to check it: ");
        }
    }
    if (!differences.empty()) {
        std::string list;
        for (const std::string& d : differences)
            list += (list.empty() ? "" : ", ") + d;
        throw Cli::Error(Cli::VerifyFailed,
                         "The configuration read back from the card differs from the file: " +
                             list);
    }
    if (m_options.json) {
        QJsonObject result;
        result["file"] = QString::fromStdString(fileName);
        result["verified"] = true;
        result["safetyCopy"] =
            safetyCopy.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(safetyCopy);
        PrintJson(result);
        return;
    }
    Say("Card configuration successfully updated.");
    if (!safetyCopy.isEmpty())
        Say("Safety copy of the previous configuration: " + safetyCopy.toStdString());
    Say("Verified: the configuration read back matches the file.");
}

void CliCommands::ExportCsv()
{
    const std::string& fileName = m_options.arguments.at(0);
    TolvarenSnapshotGatherer gatherer(Link().Datalink());
    const TolvarenSnapshot& snapshot = Gather(gatherer);
    try {
        CliInterrupt::Scope finishing(CliInterrupt::Finishing);
        WriteCardConfigCsv(snapshot, fileName);
    } catch (const FileWriteError& e) {
        throw Cli::Error(Cli::FileFailed,
                         std::string("Failed to export card configuration: ") + e.what());
    } catch (...) {
        Cli::FailWith("Failed to export card configuration: ");
    }
    if (m_options.json) {
        QJsonObject result;
        result["file"] = QString::fromStdString(fileName);
        PrintJson(result);
        return;
    }
    Say("Created " + fileName);
}

void CliCommands::ImportCsv()
{
    const std::string& fileName = m_options.arguments.at(0);
    const std::string readPrefix = "Failed to read points from file: ";
    // The import reads a file it cannot open as empty; here that is a mistake worth saying.
    if (!QFileInfo(FromArgument(fileName)).isFile() ||
        !QFile(FromArgument(fileName)).open(QIODevice::ReadOnly))
        throw Cli::Error(Cli::FileFailed, readPrefix + "cannot open file " + fileName);

    int cardType = 0;
    try {
        TolvarenCommsCommon comms(Link().Datalink());
        cardType = comms.GetCardType(true).get();
    } catch (...) {
        Cli::FailWithCardText();
    }
    std::vector<PointImportRecord> points;
    try {
        points = ReadPointsCsv(fileName, cardType);
    } catch (...) {
        Cli::FailWith(readPrefix);
    }
    if (points.empty())
        throw Cli::Error(Cli::OperationFailed,
                         readPrefix + "no line of " + fileName + " names a point of this card");

    std::ostream& list = m_options.json ? std::cerr : std::cout;
    for (const PointImportRecord& p : points)
        list << (p.direction == Tolvaren::Input ? "Input " : "Output ") << p.number << ": label \""
             << p.label << "\", part number \"" << p.partNumber << "\", notes \"" << p.notes
             << "\"\n";
    list << std::flush;
    Confirm("Write these " + std::to_string(points.size()) + " points into the card?");
    try {
        CliInterrupt::Scope finishing(CliInterrupt::Finishing);
        WritePointsToCard(points, Link().Datalink());
    } catch (...) {
        Cli::FailWith("Failed to import points fields: ");
    }
    CliInterrupt::StopIfRequested();
    if (m_options.json) {
        QJsonObject result;
        result["file"] = QString::fromStdString(fileName);
        result["points"] = int(points.size());
        PrintJson(result);
        return;
    }
    Say("Imported " + std::to_string(points.size()) + " points from " + fileName);
}

void CliCommands::Download8Day()
{
    const std::string& fileName = m_options.arguments.at(0);
    ProgressBar bar("Downloading");
    const HistoricalDataDownloader* counting = nullptr;
    HistoricalDataDownloader downloader(Link().Datalink(), fileName, [&](float percent) {
        bar.Show(percent, counting ? counting->Retries() : 0);
    });
    counting = &downloader;
    boost::future<void> done = downloader.Start();
    try {
        CliInterrupt::Scope stoppable(CliInterrupt::Stoppable);
        CliInterrupt::WaitOrStop(done);
    } catch (const CliInterrupt::Stopped&) {
        // As the window's cancel: the worker stops at its next wait, the file keeps its lines.
        downloader.InterruptAndJoin();
        bar.End();
        std::cerr << "Download stopped; " << fileName << " keeps the lines already written."
                  << std::endl;
        throw;
    }
    bar.End();
    if (downloader.Retries() > 0)
        std::cerr << "Lost replies asked again: " << downloader.Retries() << std::endl;
    try {
        done.get();
    } catch (const FileWriteError& e) {
        throw Cli::Error(Cli::FileFailed, std::string("Failed: ") + e.what());
    } catch (...) {
        Cli::FailWith("Failed: ");
    }
    if (m_options.json) {
        QJsonObject result;
        result["file"] = QString::fromStdString(fileName);
        PrintJson(result);
        return;
    }
    Say("All data retrieved successfully.");
}
