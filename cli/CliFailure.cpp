#include "cli/CliFailure.h"

#include <exception>

#include "cli/CliInterrupt.h"
#include "modbus/ModbusErrors.h"
#include "protocol/TolvarenTypes.h"

namespace Cli {

void FailWith(const std::string& prefix, ExitCode otherwise)
{
    try {
        throw;
    } catch (const Error&) {
        throw;
    } catch (const CliInterrupt::Stopped&) {
        throw;
    } catch (const Modbus::Error& e) {
        throw Error(e.Kind() == Modbus::TimeoutErrorKind ? NoReply : otherwise, prefix + e.what());
    } catch (const std::exception& e) {
        throw Error(otherwise, prefix + e.what());
    } catch (...) {
        throw Error(otherwise, prefix + "Unexpected failure.");
    }
}

void FailWithCardText()
{
    try {
        throw;
    } catch (const Tolvaren::FirmwareTooOldError&) {
        throw Error(OperationFailed, "Card firmware is too old");
    } catch (const Tolvaren::FirmwareTooNewError&) {
        throw Error(OperationFailed, "Card firmware is too new - upgrade this PC application");
    } catch (...) {
        FailWith("Invalid response from card: ");
    }
}

} // namespace Cli
