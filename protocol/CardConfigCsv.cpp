#include "protocol/CardConfigCsv.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <QByteArray>
#include <QFile>

#include <boost/throw_exception.hpp>

#include "comms/ExceptionWithString.h"
#include "protocol/TolvarenCommsCommon.h"
#include "protocol/TolvarenScalingProfile.h"
#include "protocol/TolvarenSnapshot.h"
#include "protocol/WholeFileWriter.h"

using Tolvaren::IoDirection;

namespace {

const char* const lineEnd = "\r\n";
// The card type whose points sit on numbered Duvalnor connectors.
const int connectorCardType = 4;

template <class T> T At(const std::vector<T>& values, unsigned index, T fallback = T())
{
    return index < values.size() ? values[index] : fallback;
}

// Every CR LF and every LF in text replaced by replacement.
std::string ReplaceLineBreaks(const std::string& text, const std::string& replacement)
{
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            result += replacement;
            ++i;
        } else if (text[i] == '\n') {
            result += replacement;
        } else {
            result += text[i];
        }
    }
    return result;
}

std::string FormatDate(const Tolvaren::Date& date)
{
    if (date.day == 0 && date.month == 0 && date.year == 0)
        return std::string();
    char text[32];
    std::snprintf(text, sizeof text, "%02u/%02u/%04u", unsigned(date.day), unsigned(date.month),
                  unsigned(date.year));
    return text;
}

std::string FormatValue(float value)
{
    std::ostringstream out;
    out.setf(std::ios::fixed);
    out.precision(2);
    out << value;
    return out.str();
}

// Offsets and overrides are settings the user typed: shown as plain numbers (1.5, -0.25, 0),
// not rounded to the two decimals of a measured value.
std::string FormatSetting(float value)
{
    std::ostringstream out;
    out << value;
    return out.str();
}

std::string Quoted(const std::string& text)
{
    return '"' + text + '"';
}

void WritePointLines(std::ostream& out, const TolvarenSnapshot& s, IoDirection dir)
{
    const bool input = dir == Tolvaren::Input;
    const unsigned count = input ? s.numInputs : s.numOutputs;
    for (unsigned i = 0; i < count; ++i) {
        out << (input ? ",Input " : ",Output ") << i + 1 << ',';
        if (s.cardType == connectorCardType)
            out << (i / 8) * 2 + (input ? 2 : 1) << ',';

        const std::uint16_t profileId = At(input ? s.inputProfileIds : s.outputProfileIds, i);
        // A point may use a profile whose catalogue entry has no name; the card face shows
        // such a profile as "?" and so does the summary.
        std::string profile = "?";
        if (s.scalingProfiles) {
            const auto found = s.scalingProfiles->find(profileId);
            if (found != s.scalingProfiles->end())
                profile = found->second.name;
        }

        out << Quoted(At(input ? s.inputLabels : s.outputLabels, i)) << ',';
        out << Quoted(profile) << ',';
        out << Quoted(At(input ? s.inputPartNumbers : s.outputPartNumbers, i)) << ',';
        if (input)
            out << FormatSetting(At(s.inputOffsets, i));
        else if (At(s.overrideActive, i, false))
            out << FormatSetting(At(s.overrideValues, i));
        out << ',';
        out << FormatDate(At(input ? s.inputDates : s.outputDates, i)) << ',';
        out << Quoted(ReplaceLineBreaks(At(input ? s.inputNotes : s.outputNotes, i), "\\")) << ',';
        out << FormatValue(At(input ? s.inputValues : s.outputValues, i)) << ',';
        out << Quoted(UnitFromProfileName(profile, false)) << ',' << lineEnd;
    }
}

std::string ComposeCardConfigCsv(const TolvarenSnapshot& s)
{
    std::ostringstream out;
    char serial[16];
    std::snprintf(serial, sizeof serial, "%06u", unsigned(s.serialNumber));
    out << "Serial number: " << serial << lineEnd;
    out << "Firmware version: " << s.firmwareVersion << lineEnd;
    out << "Hardware revision: " << s.hardwareRevision << lineEnd;
    out << lineEnd;
    out << ReplaceLineBreaks(s.configText, lineEnd) << lineEnd << lineEnd;

    if (s.numOutputs > 0) {
        out << "Watchdog:" << lineEnd;
        out << "Delay until bus off: " << s.commsDogBusOffDelay << " seconds" << lineEnd;
        out << "Delay until all off: " << s.commsDogOutputsOffDelay << " seconds" << lineEnd;
        const char* state = s.commsDogBusOffDelay == 0 ? "disabled"
                            : s.commsDogTriggered      ? "triggered"
                                                       : "healthy";
        out << "Current state: " << state << lineEnd << lineEnd << lineEnd;
    }

    out << ",I/O No.,";
    if (s.cardType == connectorCardType)
        out << "Duvalnor Connector,";
    out << "Label,Type,Part No.,Offset / Override,Install/Calibration Date,Notes,Value,Unit"
        << lineEnd;
    WritePointLines(out, s, Tolvaren::Input);
    WritePointLines(out, s, Tolvaren::Output);
    return out.str();
}

// ---- Import --------------------------------------------------------------------------------

// Splits the next field off line from pos on and moves pos past its comma (to npos at the end
// of the line). A field that starts with a double quote runs to the next double quote, or to
// the end of the line when there is none; text between the closing quote and the comma is
// appended.
std::string NextField(const std::string& line, std::size_t& pos)
{
    std::string field;
    if (pos >= line.size()) {
        pos = std::string::npos;
        return field;
    }
    if (line[pos] == '"') {
        const std::size_t close = line.find('"', pos + 1);
        if (close == std::string::npos) {
            field = line.substr(pos + 1);
            pos = std::string::npos;
            return field;
        }
        field = line.substr(pos + 1, close - pos - 1);
        pos = close + 1;
    }
    const std::size_t comma = line.find(',', pos);
    field += line.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    pos = comma == std::string::npos ? std::string::npos : comma + 1;
    return field;
}

// The leading decimal number of text, as atoi reads it, but saturating instead of overflowing.
long LeadingNumber(const std::string& text)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value < INT_MAX)
            value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

bool StartsWith(const std::string& text, const char* prefix, std::size_t& prefixLength)
{
    prefixLength = std::char_traits<char>::length(prefix);
    return text.compare(0, prefixLength, prefix) == 0;
}

unsigned PointCount(int cardType, IoDirection dir)
{
    static const unsigned inputs[] = {16, 0, 6, 24};
    static const unsigned outputs[] = {0, 16, 9, 24};
    return (dir == Tolvaren::Input ? inputs : outputs)[cardType - 1];
}

// Reads the next line into line without its line end; a line longer than the limit is an
// error before more of it is kept. False at the end of the file.
bool ReadLine(std::istream& in, std::string& line, std::size_t lineNumber)
{
    line.clear();
    if (in.peek() == std::char_traits<char>::eof())
        return false;
    char c;
    while (in.get(c) && c != '\n') {
        if (line.size() > maxImportLineLength) {
            boost::throw_exception(
                ExceptionWithString("Line " + std::to_string(lineNumber) + " is too long"));
        }
        line += c;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.size() > maxImportLineLength)
        boost::throw_exception(
            ExceptionWithString("Line " + std::to_string(lineNumber) + " is too long"));
    return true;
}

} // namespace

void WriteCardConfigCsv(const TolvarenSnapshot& snapshot, const std::string& fileName)
{
    const std::string content = ComposeCardConfigCsv(snapshot);
    WholeFileWriter::WriteFile(QFile::decodeName(QByteArray::fromStdString(fileName)),
                               QByteArray::fromStdString(content));
}

std::vector<PointImportRecord> ReadPointsCsv(const std::string& fileName, int cardType)
{
    if (cardType < 1 || cardType > 4)
        boost::throw_exception(ExceptionWithString("Invalid card type"));

    std::vector<PointImportRecord> records;
    std::ifstream file(fileName, std::ios::binary);
    std::string line;
    for (std::size_t lineNumber = 1; ReadLine(file, line, lineNumber); ++lineNumber) {
        // Spreadsheets saving "CSV UTF-8" start the file with a byte order mark, which would
        // otherwise hide the first line's point.
        if (lineNumber == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
            line.erase(0, 3);
        std::size_t pos = 0;
        std::string point = NextField(line, pos);
        point.erase(std::remove(point.begin(), point.end(), ' '), point.end());

        PointImportRecord record;
        std::size_t prefix = 0;
        if (StartsWith(point, "Input", prefix) || StartsWith(point, "I", prefix))
            record.direction = Tolvaren::Input;
        else if (StartsWith(point, "Output", prefix) || StartsWith(point, "O", prefix))
            record.direction = Tolvaren::Output;
        else
            continue;
        const long number = LeadingNumber(point.substr(prefix));
        if (number < 1 || number > long(PointCount(cardType, record.direction)))
            continue;
        if (records.size() == maxImportRecords) {
            boost::throw_exception(ExceptionWithString(
                "More than " + std::to_string(maxImportRecords) + " points in the file"));
        }
        record.number = static_cast<int>(number);
        record.label = NextField(line, pos);
        record.partNumber = NextField(line, pos);
        record.notes = NextField(line, pos);
        records.push_back(std::move(record));
    }
    return records;
}

void WritePointsToCard(const std::vector<PointImportRecord>& points, ModbusMasterDatalink& datalink)
{
    TolvarenCommsCommon comms(datalink);
    const bool notesSupported = comms.AreIoPointNotesSupported().get();
    for (const PointImportRecord& point : points) {
        const std::string name =
            std::string(point.direction == Tolvaren::Input ? "Input " : "Output ") +
            std::to_string(point.number);
        try {
            if (point.number < 1)
                boost::throw_exception(ExceptionWithString("no such point"));
            const unsigned index = static_cast<unsigned>(point.number - 1);
            comms.SetLabel(point.direction, index, point.label).get();
            comms.SetPartNumber(point.direction, index, point.partNumber).get();
            if (notesSupported)
                comms.SetIoNote(point.direction, index, point.notes).get();
        } catch (const std::exception& e) {
            boost::throw_exception(
                ExceptionWithString("Failed to import " + name + ": " + e.what()));
        }
    }
}
