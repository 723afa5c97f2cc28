#pragma once

#include <string>

// What poppler's readers (pdftotext, pdfinfo) find in a PDF: a reader that shares no code with
// the program that wrote it. Empty text when the tool fails or is missing.
// page 0: all pages. layout: each table row on one line (a cell's wrapped lines interleave).
std::string PdfText(const std::string& pdf, int page = 0, bool layout = false);
// A line of pdfinfo's output, e.g. PdfInfo(pdf, "Pages") gives "5".
std::string PdfInfo(const std::string& pdf, const std::string& field);
// The text without any white space: a table cell may break a long word over lines.
std::string Squeezed(const std::string& text);
