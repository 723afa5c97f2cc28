#pragma once

#include <string>

#include "cli/CliErrors.h"

// Turning the errors of the layers into tolvaren-cli's endings. Call only inside a catch block:
// each rethrows the error in flight as Cli::Error. Cli::Error and CliInterrupt::Stopped pass
// unchanged.
namespace Cli {

// prefix + the error's text; a card that did not answer (Modbus time-out) is NoReply, anything
// else `otherwise`.
[[noreturn]] void FailWith(const std::string& prefix, ExitCode otherwise = OperationFailed);

// The window's status texts for a card it cannot use: "Card firmware is too old", "Card firmware
// is too new - upgrade this PC application", else "Invalid response from card: " + the text.
[[noreturn]] void FailWithCardText();

} // namespace Cli
