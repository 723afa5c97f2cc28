// The points import reader on a file holding the input: every record it returns must name a
// point of the card, and files no person would write must be refused, not read without end.
//
// Input: card type (1 byte), then the file's bytes.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <unistd.h>

#include "comms/ExceptionWithString.h"
#include "fuzz/FuzzInput.h"
#include "protocol/CardConfigCsv.h"
#include "protocol/TolvarenCommsCommon.h"

namespace {

[[noreturn]] void Broken(const char* what)
{
    std::fprintf(stderr, "points csv: %s\n", what);
    std::abort();
}

const std::string& FilePath()
{
    static const std::string path =
        (getenv("TMPDIR") ? std::string(getenv("TMPDIR")) : std::string("/tmp")) +
        "/tolvaren-points-fuzz-" + std::to_string(getpid()) + ".csv";
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput input(data, size);
    // 0 and 5 are refused outright; the rest are the four card types.
    const int cardType = input.Byte() % 6;
    const ByteVec text = input.Rest();
    {
        std::ofstream file(FilePath(), std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(text.data()), std::streamsize(text.size()));
    }
    try {
        const std::vector<PointImportRecord> records = ReadPointsCsv(FilePath(), cardType);
        if (records.size() > maxImportRecords)
            Broken("more records than a file may hold");
        for (const PointImportRecord& record : records) {
            const unsigned count = record.direction == Tolvaren::Input
                                       ? TolvarenNumInputs(cardType)
                                       : TolvarenNumOutputs(cardType);
            if (record.number < 1 || unsigned(record.number) > count)
                Broken("record for a point the card does not have");
            if (record.label.size() > text.size() || record.notes.size() > text.size())
                Broken("field longer than the file");
        }
    } catch (const ExceptionWithString&) {
    }
    std::remove(FilePath().c_str());
    return 0;
}
