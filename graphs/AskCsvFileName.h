#pragma once

#include <QString>

class QWidget;

// Asks for a CSV file to save to, starting in the folder of the last file chosen (settings key
// "GraphWindowLastFilename"), or in the documents folder the first time. Returns the chosen name,
// which is remembered, or an empty string when the user cancels.
//
// Threads: user-interface thread only.
QString AskCsvFileName(QWidget* parent);
