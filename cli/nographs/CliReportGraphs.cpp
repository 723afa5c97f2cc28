#include "cli/CliReportGraphs.h"

// A build without the windows has no plot renderer.
CardReportDocument::GraphPainter CliReportGraphPainter()
{
    return CardReportDocument::GraphPainter();
}
