#pragma once

#include <string>
#include <vector>

#include "protocol/PointImportRecord.h"

class ModbusMasterDatalink;
struct TolvarenSnapshot;

// The card configuration CSV export and the points CSV import. Texts are passed through as the
// bytes the card or the file holds.
//
// Threads: the two file functions touch no card and may run on any thread. WritePointsToCard
// blocks on the card and must not run on a thread the datalink needs for its replies.

// Writes a readable summary of the card (identity, configuration text, watchdog, one line per
// point) from the snapshot of a full gathering. The file is composed first and written whole,
// so a failure leaves the file as it was. Throws FileWriteError
// "Cannot write to file: <fileName>" when the file cannot be written.
void WriteCardConfigCsv(const TolvarenSnapshot& snapshot, const std::string& fileName);

// Reads the point labels, part numbers and notes of an import file for a card of this type.
// Lines that name no point of the card are ignored; a file that cannot be opened reads as
// empty. Throws ExceptionWithString "Invalid card type" for a type other than 1 to 4, and for
// files no person would write: a line longer than maxImportLineLength bytes, or more than
// maxImportRecords point lines.
std::vector<PointImportRecord> ReadPointsCsv(const std::string& fileName, int cardType);

const std::size_t maxImportLineLength = 16 * 1024;
const std::size_t maxImportRecords = 1000;

// Writes the records' label, part number and (where the card keeps notes) notes into the card,
// in file order, waiting for each write. The first failure stops the import with
// ExceptionWithString "Failed to import Input <n>: <reason>" (or Output); the records before it
// stay written.
void WritePointsToCard(const std::vector<PointImportRecord>& points,
                       ModbusMasterDatalink& datalink);
