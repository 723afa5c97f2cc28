#pragma once

#include <functional>
#include <vector>

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QJsonObject>
#include <QString>

#include "report/CardReading.h"

// A card report as a document: PDF through Qt's text document and PDF writer (A4 or Letter,
// landscape, page numbers, the points table's header repeated on every page), or one
// self-contained HTML file (graphs embedded as data: URLs) that a browser shows and prints.
// Every text from the card is escaped: a label such as <b> is shown as typed, never as markup.
//
// Threads: any one thread at a time; a QGuiApplication must exist (fonts).
class CardReportDocument
{
public:
    enum Format { Pdf, Html };
    enum Paper { A4, Letter };

    // Draws one point's 8-day graph: samples oldest first (NaN a gap), the seconds between them,
    // the local time of the newest, the axis title.
    using GraphPainter =
        std::function<QImage(const std::vector<float>& samples, double secondsPerSample,
                             const QDateTime& newest, const QString& title)>;

    // data: BuildReportData's. graphs: one per point, inputs first, or none.
    CardReportDocument(QJsonObject data, std::vector<QImage> graphs);

    // By the name's ending: .pdf, .html or .htm (any case). Throws ExceptionWithString for any
    // other name.
    static Format FormatOfFile(const QString& fileName);
    static std::vector<QImage> DrawGraphs(const CardReading& reading, const GraphPainter& painter);

    // The HTML of the file; the PDF is laid out from the same text.
    QString HtmlText() const;
    QByteArray PdfBytes(Paper paper, int* pageCount = nullptr) const;

    // Written through WholeFileWriter: the file is replaced only once every byte is on the disk.
    // Throws FileWriteError. Returns the number of pages (1 for HTML).
    int Write(const QString& fileName, Paper paper) const;

private:
    QString Body(const std::function<QString(int)>& imageSource) const;

    QJsonObject m_data;
    std::vector<QImage> m_graphs;
};
