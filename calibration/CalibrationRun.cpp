#include "calibration/CalibrationRun.h"

#include <chrono>
#include <thread>

#include <QString>

#include <boost/throw_exception.hpp>

#include "calibration/CalibRunContext.h"
#include "calibration/CalibSettings.h"
#include "calibration/InputCardCalibrator.h"
#include "calibration/OutputCardCalibrator.h"
#include "comms/ExceptionWithString.h"
#include "modbus/ModbusErrors.h"
#include "protocol/FileWriteError.h"
#include "protocol/TolvarenCommsCommon.h"
#include "protocol/WholeFileWriter.h"

namespace {

// Modbus exception code of a node that is still busy (storing the calibration).
const unsigned char nodeBusy = 6;
const std::chrono::milliseconds backupPause(500);

// The card's configuration image once it answers; a busy card is asked again.
ByteVec ReadConfigWhenNotBusy(CalibRunContext& context, TolvarenCommsCommon& card)
{
    for (;;) {
        {
            // Not a cancellation point: the card may still be writing its calibration.
            boost::this_thread::disable_interruption holdOff;
            std::this_thread::sleep_for(backupPause);
        }
        try {
            return card.GetCardConfig().get();
        } catch (const Modbus::Error& e) {
            if (!e.IsExceptionReply(nodeBusy))
                throw;
            context.reporter.Log("Card still busy...");
        }
    }
}

// Replaces the backup whole or not at all; a file that cannot be written does not fail a run
// whose calibration is already stored, but the log says so.
void WriteBackup(CalibRunContext& context, const ByteVec& image)
{
    try {
        WholeFileWriter::WriteFile(QString::fromStdString(context.inputs.logBasePath + ".dat"),
                                   image);
    } catch (const FileWriteError& e) {
        context.reporter.Log(std::string("Could not write the backup: ") + e.what());
    }
}

void RunBody(CalibRunContext& context)
{
    const CalibrationRunInputs& inputs = context.inputs;
    CalibSettings& settings = CalibSettings::Instance();

    TolvarenCommsCommon inputCard(*inputs.inputCardLink);
    std::unique_ptr<TolvarenCommsCommon> outputCard;
    if (inputs.outputCard) {
        if (!inputs.outputCardLink)
            boost::throw_exception(ExceptionWithString("no Output Card to calibrate"));
        outputCard.reset(new TolvarenCommsCommon(*inputs.outputCardLink));
    }

    context.activity = "initialising";
    const std::uint16_t version = inputCard.GetRegisterVersion().get();
    const std::uint16_t revision =
        inputCard.ReadSingleRegister(false, TolvarenCommsCommon::regHardwareRevision).get();
    settings.SetScalesFromCard(version, revision);
    settings.ResetTiming();

    if (outputCard)
        OutputCardCalibrator::RunProcedure(context, inputCard, *outputCard, version);
    else
        InputCardCalibrator::RunProcedure(context, inputCard, version);

    TolvarenCommsCommon& underTest = outputCard ? *outputCard : inputCard;
    context.activity = "creating backup of card's config data";
    context.reporter.Log("Creating backup of card's configuration...");
    const ByteVec image = ReadConfigWhenNotBusy(context, underTest);
    if (image.empty())
        boost::throw_exception(ExceptionWithString("Card configuration is empty?!"));
    WriteBackup(context, image);

    context.activity = "finished";
    context.reporter.FinishedWithSuccess();
}

void RunThread(const CalibrationRunInputs& inputs, QObject* window)
{
    CalibRunContext context(inputs, window);
    const std::function<void(int)> sleep = inputs.sleep;
    context.sleep = [sleep](int ms) {
        if (ms <= 0)
            return;
        if (sleep)
            sleep(ms);
        else
            boost::this_thread::sleep_for(boost::chrono::milliseconds(ms));
    };
    QString error;
    try {
        if (!inputs.inputCardLink)
            boost::throw_exception(ExceptionWithString("no Input Card"));
        RunBody(context);
        return;
    } catch (const boost::thread_interrupted&) {
        return; // cancelled: the window has said so already
    } catch (const std::exception& e) {
        error = QString::fromStdString("error while " + context.activity + ": " + e.what());
    } catch (...) {
        error = QString::fromStdString("error while " + context.activity + ": unknown error");
    }
    try {
        context.reporter.FinishedWithError(error);
    } catch (const std::exception&) {
        // The window cannot be told; nothing else can be.
    }
}

} // namespace

boost::thread StartCalibrationRun(const CalibrationRunInputs& inputs, QObject* window)
{
    // The thread keeps its own copy: the window's may change once the run has started.
    return boost::thread([inputs, window] { RunThread(inputs, window); });
}
