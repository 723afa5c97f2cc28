// "Save card report..." on the card face of the full simulated card: the file dialog with its
// check box, the progress of the reading, the report written and said.

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QPointer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "cardui/TolvarenCardWidget.h"
#include "modbus/ModbusMasterDatalink.h"
#include "protocol/TolvarenCommsCommon.h"
#include "protocol/TolvarenSnapshotGatherer.h"
#include "report/SnapshotJson.h"
#include "simulator/FullCardSimulator.h"
#include "tests/cardui/CardUiDialogSteps.h"
#include "widgets/ProgressDialog.h"

using namespace CardUiDialogSteps;

namespace {

TEST(CardReportFlowTest, SavesTheReportWithGraphsAndTheChangesSinceTheCardWasFound)
{
    DEDOCardSimulator::ResetSharedStores();
    FullCardSimulator card;
    ModbusMasterDatalink datalink(&card);
    QJsonObject asFound;
    {
        TolvarenSnapshotGatherer gatherer(datalink);
        gatherer.RefreshSnapshot().get();
        asFound = SnapshotToJson(gatherer.Snapshot());
        TolvarenCommsCommon comms(datalink);
        comms.SetLabel(Tolvaren::Output, 1, "Valve <V2>").get();
    }
    QWidget window;
    auto* face = new TolvarenCardWidget(&datalink, &window);
    face->SetReportContext("COM7", asFound, "first full reading of this connection");
    QAction* entry = nullptr;
    for (QAction* action : face->OptionsMenu()->actions())
        if (action->text() == "Save card report...")
            entry = action;
    ASSERT_NE(entry, nullptr);

    QTemporaryDir files;
    QString said;
    ModalScript script;
    script
        .Then([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            ASSERT_NE(dialog, nullptr) << modal->metaObject()->className();
            auto* graphs = dialog->findChild<QCheckBox*>("withGraphsCheckBox");
            ASSERT_NE(graphs, nullptr);
            EXPECT_EQ(graphs->text(), "with 8-day graphs");
            graphs->setChecked(true);
            dialog->selectNameFilter("HTML Files (*.html)");
            dialog->selectFile(files.filePath("visit"));
            QMetaObject::invokeMethod(dialog, "accept");
        })
        .Then([](QWidget* modal) {
            // The progress dialog closes itself once the card has been read.
            ASSERT_NE(qobject_cast<ProgressDialog*>(modal), nullptr);
            QPointer<QWidget> progress(modal);
            for (int i = 0; i < 6000 && progress && progress->isVisible(); ++i)
                QApplication::processEvents(QEventLoop::AllEvents, 10);
            EXPECT_FALSE(progress && progress->isVisible());
        })
        .Then(Press(QMessageBox::Ok, &said));
    script.Run([&] { entry->trigger(); });
    EXPECT_EQ(script.StepsLeft(), 0);
    EXPECT_TRUE(script.Unexpected().isEmpty()) << script.Unexpected().join(", ").toStdString();

    const QString path = files.filePath("visit.html");
    EXPECT_TRUE(said.startsWith("Card report saved to " + path)) << said.toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(file.readAll());
    EXPECT_EQ(html.count("data:image/png;base64,"), 48);
    EXPECT_TRUE(html.contains(">COM7</td>"));
    EXPECT_TRUE(html.contains("<td>Output 2</td><td>Label</td><td>Output 2</td>"
                              "<td>Valve &lt;V2&gt;</td>"));
}

} // namespace
