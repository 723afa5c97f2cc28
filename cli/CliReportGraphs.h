#pragma once

#include "report/CardReportDocument.h"

// How tolvaren-cli draws a report's 8-day graphs: with the window's plot renderer where the build
// has it, otherwise not at all (an empty painter; --with-graphs is then refused).
CardReportDocument::GraphPainter CliReportGraphPainter();
