#include "report/CardReportDocument.h"

#include <cmath>

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QFileInfo>
#include <QJsonArray>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextDocument>
#include <QUrl>

#include <boost/throw_exception.hpp>

#include "comms/ExceptionWithString.h"
#include "protocol/WholeFileWriter.h"

namespace {

const int digitalProfileId = 0xFFFF;
// The graphs' size on the page, in CSS pixels (1/96 in).
const int graphWidth = 760, graphHeight = 190;
// Qt's PNG writer maps this to zlib level 1.
const int pngQuality = 80;

// Card text as HTML text: never markup; line breaks of a note kept.
QString Esc(const QString& text)
{
    QString escaped = text.toHtmlEscaped();
    escaped.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    return escaped;
}

QString NumberText(const QJsonValue& value, int digits = 6)
{
    return value.isDouble() ? QString::number(value.toDouble(), 'g', digits) : QString();
}

QString Row(const QString& name, const QString& valueHtml)
{
    return "<tr><th align=\"left\" valign=\"top\" bgcolor=\"#e8e8e8\">" + Esc(name) +
           "</th><td valign=\"top\">" + valueHtml + "</td></tr>\n";
}

QString Cells(const QStringList& texts, const char* tag = "td")
{
    QString row = "<tr>";
    for (const QString& text : texts)
        row += QStringLiteral("<%1%2>%3</%1>")
                   .arg(QLatin1String(tag),
                        tag[1] == 'h' ? QLatin1String(" bgcolor=\"#e8e8e8\"") : QLatin1String(""),
                        Esc(text));
    return row + "</tr>\n";
}

QString TableStart(const char* id)
{
    return QStringLiteral("<table id=\"%1\" border=\"1\" cellspacing=\"0\" cellpadding=\"3\" "
                          "width=\"100%\">\n")
        .arg(QLatin1String(id));
}

QString PointName(bool input, int number)
{
    return (input ? QStringLiteral("Input %1") : QStringLiteral("Output %1")).arg(number);
}

// Analogue when any point has a scaling profile, as the card face says it.
QString TypeOfPoints(const QJsonArray& points)
{
    for (const QJsonValue p : points)
        if (p.toObject().value("profileId").toInt() != digitalProfileId)
            return QStringLiteral("Analogue");
    return QStringLiteral("Digital");
}

const char* const headingStyle =
    "h1 { font-size: 14pt; } h2 { font-size: 11pt; margin-top: 12px; } h3 { font-size: 9pt; }\n";
// The HTML file's own: a browser prints it as the PDF looks.
const char* const fileStyle =
    "body { font-family: 'DejaVu Sans', 'Liberation Sans', Arial, sans-serif; font-size: 8pt; }\n"
    "table { border-collapse: collapse; }\n"
    "thead { display: table-header-group; }\n"
    "tr { page-break-inside: avoid; }\n"
    "img { max-width: 100%; }\n"
    "@page { size: landscape; }\n";

} // namespace

CardReportDocument::CardReportDocument(QJsonObject data, std::vector<QImage> graphs)
    : m_data(std::move(data)), m_graphs(std::move(graphs))
{
}

CardReportDocument::Format CardReportDocument::FormatOfFile(const QString& fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == "pdf")
        return Pdf;
    if (suffix == "html" || suffix == "htm")
        return Html;
    boost::throw_exception(ExceptionWithString(
        "the report's file name must end in .pdf or .html: " + fileName.toStdString()));
}

std::vector<QImage> CardReportDocument::DrawGraphs(const CardReading& reading,
                                                   const GraphPainter& painter)
{
    std::vector<QImage> graphs;
    const EightDayData& data = reading.eightDay;
    if (!data.present || !painter)
        return graphs;
    const TolvarenSnapshot& s = reading.snapshot;
    for (std::size_t p = 0; p < data.series.size(); ++p) {
        const bool input = p < s.numInputs;
        const std::size_t i = input ? p : p - s.numInputs;
        const auto& labels = input ? s.inputLabels : s.outputLabels;
        const std::string label = i < labels.size() ? labels[i] : std::string();
        graphs.push_back(painter(data.series[p], data.secondsPerSample, data.newest,
                                 QString::fromUtf8(label.c_str())));
    }
    return graphs;
}

QString CardReportDocument::Body(const std::function<QString(int)>& imageSource) const
{
    const QJsonObject report = m_data.value("report").toObject();
    const QJsonObject card = m_data.value("card").toObject();
    const QJsonObject watchdog = m_data.value("watchdog").toObject();
    const QJsonArray inputs = m_data.value("inputs").toArray();
    const QJsonArray outputs = m_data.value("outputs").toArray();
    const QString cardName = card.value("cardName").toString();
    QString html;

    // ---- Header
    html += "<h1>Card report: " + Esc(cardName) + ", serial number " +
            Esc(NumberText(card.value("serialNumber"))) + "</h1>\n";
    html += "<table id=\"header\" cellspacing=\"0\" cellpadding=\"2\">\n";
    const QDateTime made = QDateTime::fromString(report.value("made").toString(), Qt::ISODate);
    html += Row("Date and time", Esc(made.toString("yyyy-MM-dd hh:mm:ss")));
    html +=
        Row("Tool version", Esc("Tolvaren Diagnostics " + report.value("toolVersion").toString()));
    html += Row("Port", Esc(report.value("port").toString()));
    html += Row("Card type", Esc(cardName));
    html += Row("Serial number", Esc(NumberText(card.value("serialNumber"))));
    html += Row("Firmware version", Esc(card.value("firmwareVersion").toString()));
    html += Row("Hardware revision", Esc(NumberText(card.value("hardwareRevision"))));
    html += Row("Register-map version", Esc(NumberText(card.value("registerVersion"))));
    html += Row("Board voltage",
                Esc(QString::number(card.value("boardVoltage").toDouble(), 'f', 1) + " V"));
    html += Row("Health", Esc(card.value("healthy").toBool() ? "HEALTHY" : "FAULT"));
    html += Row("Calibrated", Esc(card.value("calibrated").toBool() ? "yes" : "NOT calibrated"));
    html += Row("Reset flag",
                Esc(card.value("resetOccurred").toBool() ? "Reset has occurred" : "No reset"));
    const QString configText = card.value("configText").toString();
    if (!configText.trimmed().isEmpty())
        html += Row("Dip-switch configuration", Esc(configText));
    html += "</table>\n";

    // ---- Card-wide settings
    html += "<h2>Card-wide settings</h2>\n<table id=\"cardwide\" cellspacing=\"0\" "
            "cellpadding=\"2\">\n";
    if (!outputs.isEmpty()) {
        const int busOff = watchdog.value("busOffDelaySeconds").toInt();
        const QString state = watchdog.value("state").toString();
        html += Row("CommsDog state", Esc(busOff == 0            ? "Disabled"
                                          : state == "triggered" ? "TRIGGERED"
                                                                 : "Healthy"));
        html += Row("Delay until bus-off", Esc(QString::number(busOff) + " seconds"));
        html += Row("Delay until remaining outputs off",
                    Esc(NumberText(watchdog.value("outputsOffDelaySeconds")) + " seconds"));
        if (card.value("registerVersion").toInt() >= 10)
            html +=
                Row("SoftDog delay", Esc(NumberText(watchdog.value("softDogMinutes")) + " minutes"));
        html += Row("Outputs type", Esc(TypeOfPoints(outputs)));
        int overridden = 0;
        for (const QJsonValue p : outputs)
            overridden += p.toObject().value("override").toObject().value("active").toBool();
        html += Row("Overridden outputs", Esc(QString::number(overridden)));
    }
    if (!inputs.isEmpty())
        html += Row("Inputs type", Esc(TypeOfPoints(inputs)));
    html += "</table>\n";

    // ---- Points
    html += "<h2>I/O points</h2>\n" + TableStart("points");
    html += "<thead>" +
            Cells({"Point", "Label", "Part number", "Profile (unit)", "Value", "Raw", "Lower limit",
                   "Upper limit", "Offset", "Override", "Safe value", "Calibration date", "Note"},
                  "th") +
            "</thead>\n<tbody>\n";
    for (bool input : {true, false}) {
        for (const QJsonValue v : input ? inputs : outputs) {
            const QJsonObject p = v.toObject();
            QString profile = p.value("profile").toString();
            if (profile.isEmpty())
                profile = "id " + NumberText(p.value("profileId"));
            const QString unit = p.value("unit").toString();
            if (!unit.isEmpty())
                profile += " (" + unit + ")";
            QString override, safe;
            if (!input) {
                const QJsonObject o = p.value("override").toObject();
                override = o.value("active").toBool() ? "active, " + NumberText(o.value("value"))
                                                      : QStringLiteral("off");
                safe = NumberText(p.value("safeValue"));
            }
            html += Cells({PointName(input, p.value("number").toInt()), p.value("label").toString(),
                           p.value("partNumber").toString(), profile, NumberText(p.value("value")),
                           NumberText(p.value("raw")), NumberText(p.value("lowerLimit")),
                           NumberText(p.value("upperLimit")), NumberText(p.value("offset")), override, safe,
                           p.value("date").toString(), p.value("note").toString()});
        }
    }
    html += "</tbody></table>\n";

    // ---- Long-term statistics, where the card keeps them
    if (!inputs.isEmpty() && card.value("registerVersion").toInt() > 5 &&
        card.value("cardType").toInt() != 2) {
        html += "<h2>Long-term statistics</h2>\n" + TableStart("longterm");
        html += "<thead>" +
                Cells({"Point", "Label", "Time high (s)", "Time low (s)", "Pulse count"}, "th") +
                "</thead>\n<tbody>\n";
        for (const QJsonValue v : inputs) {
            const QJsonObject p = v.toObject();
            const QJsonObject stats = p.value("longTerm").toObject();
            html += Cells({PointName(true, p.value("number").toInt()), p.value("label").toString(),
                           NumberText(stats.value("highTime"), 10), NumberText(stats.value("lowTime"), 10),
                           NumberText(stats.value("pulseCount"), 10)});
        }
        html += "</tbody></table>\n";
    }

    // ---- Control modules
    const QJsonArray modules = m_data.value("modules").toArray();
    if (!modules.isEmpty()) {
        html += "<h2>Control modules</h2>\n";
        for (const QJsonValue m : modules) {
            const QJsonObject module = m.toObject();
            html +=
                "<h3>" + Esc(module.value("name").toString()) + "</h3>\n" + TableStart("module");
            html += "<thead>" + Cells({"Parameter", "Value", "Unit"}, "th") + "</thead>\n<tbody>\n";
            for (const QJsonValue p : module.value("parameters").toArray()) {
                const QJsonObject parameter = p.toObject();
                html +=
                    Cells({parameter.value("name").toString(), parameter.value("value").toString(),
                           parameter.value("unit").toString()});
            }
            html += "</tbody></table>\n";
        }
    }

    // ---- Changes
    html += "<h2>Changes during this visit</h2>\n";
    html += "<p>As found: " + Esc(report.value("asFound").toString()) +
            ". As left: this report's reading.</p>\n";
    const QJsonArray changes = m_data.value("changes").toArray();
    if (changes.isEmpty()) {
        html += "<p>No setting differs between the two readings.</p>\n";
    } else {
        html += TableStart("changes");
        html += "<thead>" + Cells({"Point", "Field", "As found", "As left"}, "th") +
                "</thead>\n<tbody>\n";
        for (const QJsonValue c : changes) {
            const QJsonObject change = c.toObject();
            html += Cells({change.value("point").toString(), change.value("field").toString(),
                           change.value("asFound").toString(), change.value("asLeft").toString()});
        }
        html += "</tbody></table>\n";
    }

    // ---- 8-day graphs
    if (!m_graphs.empty()) {
        html += "<h2>8-day graphs</h2>\n";
        int p = 0;
        for (bool input : {true, false}) {
            for (const QJsonValue v : input ? inputs : outputs) {
                if (p >= int(m_graphs.size()))
                    break;
                const QJsonObject point = v.toObject();
                QString title = PointName(input, point.value("number").toInt()) + ": " +
                                point.value("label").toString();
                if (!point.value("unit").toString().isEmpty())
                    title += " (" + point.value("unit").toString() + ")";
                html += "<p><b>" + Esc(title) + "</b><br><img src=\"" + imageSource(p) +
                        QStringLiteral("\" width=\"%1\" height=\"%2\" alt=\"graph\"></p>\n")
                            .arg(graphWidth)
                            .arg(graphHeight);
                ++p;
            }
        }
    }
    return html;
}

QString CardReportDocument::HtmlText() const
{
    const QJsonObject card = m_data.value("card").toObject();
    const QString title = "Card report " + card.value("cardName").toString() + " " +
                          QString::number(card.value("serialNumber").toInt());
    const std::vector<QImage>& graphs = m_graphs;
    const QString body = Body([&graphs](int p) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        // zlib's fastest levels: the plots are mostly black, and the default level costs
        // several times the time for a few per cent of size.
        graphs[std::size_t(p)].save(&buffer, "PNG", pngQuality);
        return QStringLiteral("data:image/png;base64,") + QString::fromLatin1(png.toBase64());
    });
    return "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>" + Esc(title) +
           "</title>\n<style>\n" + headingStyle + fileStyle +
           "</style>\n</head>\n"
           "<body>\n" +
           body + "</body>\n</html>\n";
}

QByteArray CardReportDocument::PdfBytes(Paper paper, int* pageCount) const
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    const QJsonObject card = m_data.value("card").toObject();
    const QString serial = QString::number(card.value("serialNumber").toInt());
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(300);
        writer.setTitle("Card report " + card.value("cardName").toString() + " " + serial);
        writer.setCreator(QStringLiteral("Tolvaren Diagnostics " TOLVAREN_VERSION_TEXT));
        writer.setPageLayout(QPageLayout(QPageSize(paper == A4 ? QPageSize::A4 : QPageSize::Letter),
                                         QPageLayout::Landscape, QMarginsF(12, 12, 12, 12),
                                         QPageLayout::Millimeter));
        const QRect page = writer.pageLayout().paintRectPixels(writer.resolution());

        QTextDocument document;
        document.documentLayout()->setPaintDevice(&writer);
        // Headings only: rules that match every cell cost more than the rest of the layout, so
        // cells carry their look in attributes.
        document.setDefaultStyleSheet(QString::fromLatin1(headingStyle));
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPointSizeF(8);
        // No ligatures: "fl" in a label must come out of the PDF as two letters, so that a
        // search or a copy of the text finds what the card holds.
        font.setStyleStrategy(QFont::PreferNoShaping);
        document.setDefaultFont(font);
        for (std::size_t p = 0; p < m_graphs.size(); ++p)
            document.addResource(QTextDocument::ImageResource,
                                 QUrl(QStringLiteral("graph%1").arg(p)), m_graphs[p]);
        document.setHtml(Body([](int p) { return QStringLiteral("graph%1").arg(p); }));

        // The footer gets the bottom of each page; the document is paginated above it.
        const QFontMetricsF footerMetrics(font, &writer);
        const qreal footerHeight = footerMetrics.height() * 2;
        const QSizeF body(page.width(), page.height() - footerHeight);
        document.setPageSize(body);
        const int pages = document.pageCount();

        QPainter painter(&writer);
        painter.setFont(font);
        for (int i = 0; i < pages; ++i) {
            if (i > 0)
                writer.newPage();
            painter.save();
            painter.translate(0, -i * body.height());
            QAbstractTextDocumentLayout::PaintContext context;
            context.clip = QRectF(0, i * body.height(), body.width(), body.height());
            // A table's frame is drawn to its end: the page's part only, never over the footer.
            painter.setClipRect(context.clip);
            document.documentLayout()->draw(&painter, context);
            painter.restore();
            const QRectF footer(0, body.height(), body.width(), footerHeight);
            painter.drawText(footer, Qt::AlignLeft | Qt::AlignBottom,
                             card.value("cardName").toString() + ", serial number " + serial);
            painter.drawText(footer, Qt::AlignRight | Qt::AlignBottom,
                             QStringLiteral("Page %1 of %2").arg(i + 1).arg(pages));
        }
        if (!painter.end())
            boost::throw_exception(ExceptionWithString("the PDF could not be made"));
        if (pageCount)
            *pageCount = pages;
    }
    return bytes;
}

int CardReportDocument::Write(const QString& fileName, Paper paper) const
{
    int pages = 1;
    const QByteArray bytes =
        FormatOfFile(fileName) == Pdf ? PdfBytes(paper, &pages) : HtmlText().toUtf8();
    WholeFileWriter::WriteFile(fileName, bytes);
    return pages;
}
