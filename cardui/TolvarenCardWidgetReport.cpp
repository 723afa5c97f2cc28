// "Save card report...": the card read whole (and its 8-day data when asked for) on a worker
// while a progress dialog runs, then the report written as PDF or HTML. User-interface thread.

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLocale>
#include <QMessageBox>

#include <boost/exception_ptr.hpp>

#include "async/FutureThen.h"
#include "cardui/TolvarenCardWidget.h"
#include "graphs/PlotImage.h"
#include "report/CardReportData.h"
#include "report/CardReportDocument.h"
#include "report/CardReportReader.h"
#include "widgets/DefaultFolder.h"
#include "widgets/ProgressDialog.h"

namespace {

const char* const pdfFilter = "PDF Files (*.pdf)";
const char* const htmlFilter = "HTML Files (*.html)";

QImage Graph(const std::vector<float>& samples, double secondsPerSample, const QDateTime& newest,
             const QString& title)
{
    return DrawPlotImage(samples, secondsPerSample, newest, title, QSize(1140, 285));
}

} // namespace

void TolvarenCardWidget::SetReportContext(const QString& port, const QJsonObject& asFound,
                                          const QString& asFoundSource)
{
    m_reportPort = port;
    m_asFound = asFound;
    m_asFoundSource = asFoundSource;
}

void TolvarenCardWidget::SaveCardReport()
{
    // Qt's own dialog, which can hold the check box.
    QFileDialog fileDialog(this, "Save card report", DocumentsFolderOrHome(),
                           QString(pdfFilter) + ";;" + htmlFilter);
    fileDialog.setObjectName("cardReportFileDialog");
    fileDialog.setAcceptMode(QFileDialog::AcceptSave);
    fileDialog.setOption(QFileDialog::DontUseNativeDialog);
    auto* withGraphs = new QCheckBox("with 8-day graphs", &fileDialog);
    withGraphs->setObjectName("withGraphsCheckBox");
    if (auto* grid = qobject_cast<QGridLayout*>(fileDialog.layout()))
        grid->addWidget(withGraphs, grid->rowCount(), 0, 1, grid->columnCount());
    if (fileDialog.exec() != QDialog::Accepted || fileDialog.selectedFiles().isEmpty())
        return;
    QString fileName = fileDialog.selectedFiles().front();
    const bool graphs = withGraphs->isChecked();
    // A name without the ending of a report gets the one of the filter chosen.
    try {
        CardReportDocument::FormatOfFile(fileName);
    } catch (const std::exception&) {
        fileName += fileDialog.selectedNameFilter() == htmlFilter ? ".html" : ".pdf";
    }

    // Declared in this order so that the reader (and its worker) goes before the dialog its
    // progress is posted to.
    ProgressDialog progress(this);
    progress.SetText(graphs ? "Reading the card and its 8-day data..." : "Reading the card...");
    CardReportReader reader(*m_datalink, graphs, [&progress](float percent) {
        QMetaObject::invokeMethod(&progress, "setPercent", Qt::QueuedConnection,
                                  Q_ARG(float, percent));
    });
    progress.SetCancelHandler([&reader, &progress] {
        reader.InterruptAndJoin();
        progress.reject();
    });
    CardReading reading;
    boost::exception_ptr failure;
    boost::future<void> delivered;
    try {
        // A cancelled reading abandons its promise: the continuation is not run.
        delivered = m_asyncCalls->Then<void, CardReading>(
            reader.Start(), [&](boost::future<CardReading>& done) {
                try {
                    reading = done.get();
                } catch (...) {
                    failure = boost::current_exception();
                }
                QMetaObject::invokeMethod(&progress, "accept", Qt::QueuedConnection);
            });
    } catch (const std::exception& e) {
        QMessageBox::warning(this, QString(),
                             "Failed to save card report: " + QString::fromUtf8(e.what()));
        return;
    }
    const bool finished = progress.exec() == QDialog::Accepted;
    reader.InterruptAndJoin();
    delivered.wait();
    if (!finished)
        return;

    int pages = 0;
    try {
        if (failure)
            boost::rethrow_exception(failure);
        QApplication::setOverrideCursor(Qt::WaitCursor);
        struct RestoreCursor
        {
            ~RestoreCursor() { QApplication::restoreOverrideCursor(); }
        } restore;
        ReportContext context;
        context.made = QDateTime::currentDateTime();
        context.port = m_reportPort;
        context.asFound = m_asFound;
        context.asFoundSource = m_asFoundSource;
        const CardReportDocument document(BuildReportData(reading, context),
                                          CardReportDocument::DrawGraphs(reading, Graph));
        // Letter where the user's locale measures in inches, as a printer there is loaded.
        pages = document.Write(fileName, QLocale().measurementSystem() == QLocale::ImperialUSSystem
                                             ? CardReportDocument::Letter
                                             : CardReportDocument::A4);
    } catch (const std::exception& e) {
        QMessageBox::warning(this, QString(),
                             "Failed to save card report: " + QString::fromUtf8(e.what()));
        return;
    }
    QMessageBox::information(this, QString(),
                             QString("Card report saved to %1 (%2 %3).")
                                 .arg(fileName)
                                 .arg(pages)
                                 .arg(pages == 1 ? "page" : "pages"));
}
