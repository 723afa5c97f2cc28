// The card report of the card that tolvaren-sim serves, read back by readers that share no code
// with the writer: poppler's pdftotext and pdfinfo, and Python's html.parser.

#include <optional>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "comms/ExceptionWithString.h"
#include "graphs/PlotImage.h"
#include "protocol/TolvarenCommsCommon.h"
#include "report/CardReportData.h"
#include "report/CardReportDocument.h"
#include "report/CardReportReader.h"
#include "tests/support/PdfText.h"
#include "tests/support/ServedCardLink.h"

namespace {

// Texts a label or a note may hold that mean something in HTML; each must come out as typed.
const char* const trickyLabels[] = {"<b>&\"", "</td><script>alert(1)</script>", "a < b & c > d 'e'",
                                    "&amp; &lt;x&gt;"};
const char* const trickyNote = "line one <i>\nline two & \"three\"";

// Python's own HTML parser: the points table's rows and cell texts, the header's fields, the
// images' sources and every tag met inside the points table's body.
const char* const parserScript = R"(
import json, sys
from html.parser import HTMLParser
class P(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.out = {"rows": [], "header": {}, "scripts": 0, "images": [], "bodyTags": []}
        self.table = None; self.body = False; self.cell = None; self.row = None; self.th = None
    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "script": self.out["scripts"] += 1
        if tag == "img": self.out["images"].append(a.get("src", "")[:22])
        if tag == "table": self.table = a.get("id")
        if self.table == "points" and self.body and tag not in ("tr", "td"):
            self.out["bodyTags"].append(tag)
        if tag == "tbody": self.body = True
        if tag == "tr": self.row = []
        if tag in ("td", "th"): self.cell = ""
        if tag == "br" and self.cell is not None: self.cell += "\n"
    def handle_endtag(self, tag):
        if tag == "tbody": self.body = False
        if tag in ("td", "th") and self.cell is not None:
            self.row.append(self.cell); self.cell = None
        if tag == "tr" and self.row is not None:
            if self.table == "points" and self.body: self.out["rows"].append(self.row)
            if self.table == "header" and len(self.row) == 2:
                self.out["header"][self.row[0]] = self.row[1]
            self.row = None
    def handle_data(self, data):
        if self.cell is not None: self.cell += data
p = P(); p.feed(open(sys.argv[1], encoding="utf-8").read()); print(json.dumps(p.out))
)";

QJsonObject ParseHtml(const QString& file)
{
    QProcess python;
    python.start("/usr/bin/python3", {"-c", parserScript, file});
    EXPECT_TRUE(python.waitForFinished(60000));
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

CardReading Read(ModbusMasterDatalink& datalink, bool withEightDay)
{
    CardReportReader reader(datalink, withEightDay, {});
    return reader.Start().get();
}

QImage Graph(const std::vector<float>& samples, double seconds, const QDateTime& newest,
             const QString& title)
{
    return DrawPlotImage(samples, seconds, newest, title, QSize(760, 190));
}

class CardReportTest : public ::testing::Test
{
protected:
    // One card for the whole suite: read as found, changed as an engineer would, read again.
    static void SetUpTestSuite()
    {
        s_link.emplace(ServedCardLink::ProgramBeside(), std::vector<std::string>{"--no-pacing"});
        s_asFound = new CardReading(Read(s_link->Datalink(), false));
        {
            TolvarenCommsCommon comms(s_link->Datalink());
            for (unsigned i = 0; i < std::size(trickyLabels); ++i)
                comms.SetLabel(Tolvaren::Input, i, trickyLabels[i]).get();
            comms.SetIoNote(Tolvaren::Output, 0, trickyNote).get();
            comms.SetUpperLimit(Tolvaren::Output, 2, 77).get();
        }
        s_asLeft = new CardReading(Read(s_link->Datalink(), true));
    }
    static void TearDownTestSuite()
    {
        delete s_asLeft;
        delete s_asFound;
        s_link.reset();
    }

    static QJsonObject Data()
    {
        ReportContext context;
        context.made = QDateTime::currentDateTime();
        context.port = "COM300";
        context.asFound = ReadingToJson(*s_asFound);
        context.asFoundSource = "first reading of this connection";
        return BuildReportData(*s_asLeft, context);
    }
    std::string Path(const char* name) const { return m_dir.filePath(name).toStdString(); }

    static std::optional<ServedCardLink> s_link;
    static CardReading* s_asFound;
    static CardReading* s_asLeft;
    QTemporaryDir m_dir;
};

std::optional<ServedCardLink> CardReportTest::s_link;
CardReading* CardReportTest::s_asFound = nullptr;
CardReading* CardReportTest::s_asLeft = nullptr;

TEST_F(CardReportTest, ChangesListExactlyTheSettingsChangedNotTheMovingReadings)
{
    const QJsonArray changes = Data()["changes"].toArray();
    QStringList found;
    for (const QJsonValue c : changes)
        found << c["point"].toString() + "|" + c["field"].toString() + "|" +
                     c["asFound"].toString() + "|" + c["asLeft"].toString();
    QStringList expected;
    for (unsigned i = 0; i < std::size(trickyLabels); ++i)
        expected << QString("Input %1|Label|Input %1|%2").arg(i + 1).arg(trickyLabels[i]);
    expected << "Output 1|Note|(empty)|" + QString(trickyNote) << "Output 3|Upper limit|100|77";
    EXPECT_EQ(found, expected);

    // Another card's reading is no "as found" of this one.
    QJsonObject other = ReadingToJson(*s_asFound);
    QJsonObject card = other["card"].toObject();
    card["serialNumber"] = 4242;
    other["card"] = card;
    EXPECT_THROW(FindChanges(other, ReadingToJson(*s_asLeft)), ExceptionWithString);

    // Module parameters the user can set are compared; measurements are not.
    QJsonObject before = ReadingToJson(*s_asLeft);
    QJsonArray modules = before["modules"].toArray();
    QJsonObject module = modules[0].toObject();
    QJsonArray parameters = module["parameters"].toArray();
    int writable = -1, readOnly = -1;
    for (int i = 0; i < parameters.size(); ++i)
        (parameters[i].toObject()["writable"].toBool() ? writable : readOnly) = i;
    ASSERT_GE(writable, 0);
    ASSERT_GE(readOnly, 0);
    for (int i : {writable, readOnly}) {
        QJsonObject p = parameters[i].toObject();
        p["value"] = "changed";
        parameters[i] = p;
    }
    module["parameters"] = parameters;
    modules[0] = module;
    before["modules"] = modules;
    const QJsonArray moduleChanges = FindChanges(before, ReadingToJson(*s_asLeft));
    ASSERT_EQ(moduleChanges.size(), 1);
    EXPECT_EQ(moduleChanges[0]["field"].toString(),
              parameters[writable].toObject()["name"].toString());
    EXPECT_EQ(moduleChanges[0]["asFound"].toString(), "changed");
}

TEST_F(CardReportTest, PdfHoldsTheCardAsTextOnPagesOfTheChosenPaper)
{
    const CardReportDocument document(Data(), {});
    const std::string pdf = Path("card.pdf");
    const int pages = document.Write(QString::fromStdString(pdf), CardReportDocument::A4);
    EXPECT_GT(pages, 2);
    EXPECT_EQ(PdfInfo(pdf, "Pages"), std::to_string(pages));
    EXPECT_NE(PdfInfo(pdf, "Page size").find("(A4)"), std::string::npos);

    const std::string text = Squeezed(PdfText(pdf));
    const TolvarenSnapshot& s = s_asLeft->snapshot;
    EXPECT_NE(text.find("serialnumber" + std::to_string(s.serialNumber)), std::string::npos);
    for (const auto* labels : {&s.inputLabels, &s.outputLabels})
        for (const std::string& label : *labels)
            EXPECT_NE(text.find(Squeezed(label)), std::string::npos) << label;
    const std::size_t changes = text.find("Changesduringthisvisit");
    ASSERT_NE(changes, std::string::npos);
    const std::string rows = Squeezed(PdfText(pdf, 0, true));
    EXPECT_NE(rows.find("Output3Upperlimit10077", rows.find("Changesduringthisvisit")),
              std::string::npos);
    EXPECT_NE(text.find(Squeezed(trickyNote), changes), std::string::npos);
    // The points table's header starts the second page too, and every page says its number.
    EXPECT_NE(Squeezed(PdfText(pdf, 2, true)).find("PointLabelPartnumber"), std::string::npos);
    EXPECT_NE(Squeezed(PdfText(pdf, pages)).find("Page" + std::to_string(pages) + "of"),
              std::string::npos);

    const std::string letter = Path("letter.pdf");
    document.Write(QString::fromStdString(letter), CardReportDocument::Letter);
    EXPECT_NE(PdfInfo(letter, "Page size").find("(letter)"), std::string::npos);
}

TEST_F(CardReportTest, HtmlHasOneRowPerPointTheHeaderEmbeddedGraphsAndNoMarkupFromTheCard)
{
    const CardReportDocument document(Data(), CardReportDocument::DrawGraphs(*s_asLeft, Graph));
    const QString file = m_dir.filePath("card.html");
    document.Write(file, CardReportDocument::A4);
    const QJsonObject html = ParseHtml(file);
    const TolvarenSnapshot& s = s_asLeft->snapshot;

    const QJsonArray rows = html["rows"].toArray();
    ASSERT_EQ(rows.size(), int(s.numInputs + s.numOutputs));
    for (unsigned i = 0; i < std::size(trickyLabels); ++i)
        EXPECT_EQ(rows[int(i)][1].toString(), trickyLabels[i]);
    EXPECT_EQ(rows[int(s.numInputs)][12].toString(), trickyNote);
    EXPECT_EQ(html["bodyTags"].toArray(), QJsonArray({"br"})) << "only the note's line break";
    EXPECT_EQ(html["scripts"].toInt(), 0);

    const QJsonObject header = html["header"].toObject();
    EXPECT_EQ(header["Serial number"].toString(), QString::number(s.serialNumber));
    EXPECT_EQ(header["Card type"].toString(), "KTV-ROLM-73C6E");
    EXPECT_EQ(header["Firmware version"].toString(), QString::fromStdString(s.firmwareVersion));
    EXPECT_EQ(header["Port"].toString(), "COM300");
    EXPECT_EQ(header["Register-map version"].toString(), "10");
    EXPECT_TRUE(header.contains("Dip-switch configuration"));

    const QJsonArray images = html["images"].toArray();
    EXPECT_EQ(images.size(), int(s.numInputs + s.numOutputs));
    for (const QJsonValue src : images)
        EXPECT_EQ(src.toString(), "data:image/png;base64,");
}

TEST(CardReportFile, OnlyPdfAndHtmlNamesAreTaken)
{
    EXPECT_EQ(CardReportDocument::FormatOfFile("a/b.PDF"), CardReportDocument::Pdf);
    EXPECT_EQ(CardReportDocument::FormatOfFile("b.htm"), CardReportDocument::Html);
    EXPECT_THROW(CardReportDocument::FormatOfFile("report.pdf.txt"), ExceptionWithString);
}

} // namespace
