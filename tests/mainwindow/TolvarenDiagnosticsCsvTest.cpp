#include "mainwindow/TolvarenDiagnostics.h"

#include <functional>
#include <memory>

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "cardui/TolvarenCardWidget.h"
#include "comms/AutoReconnectSerialComms.h"
#include "protocol/TolvarenSnapshotGatherer.h"
#include "tests/cardui/CardUiDialogSteps.h"
#include "tests/mainwindow/WindowWaits.h"
#include "tests/support/FakeCard.h"
#include "tests/support/FakeCardProtocol.h"
#include "tests/support/FakeSysfs.h"
#include "tests/widgets/ModalScript.h"
#include "widgets/ConfigImportDialog.h"

using namespace CardUiDialogSteps;

namespace {

// Chooses this file in a file dialog with this caption.
ModalScript::Step ChooseFile(const QString& caption, const QString& path)
{
    return [caption, path](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr) << modal->metaObject()->className();
        EXPECT_EQ(dialog->windowTitle(), caption);
        dialog->selectFile(path);
        QMetaObject::invokeMethod(dialog, "accept");
    };
}

const QString exportCaption = QStringLiteral("Enter filename to write CSV file");
const QString importCaption = QStringLiteral("Choose CSV filename to import");

std::size_t Writes(const FakeCard& card)
{
    std::size_t writes = 0;
    for (const FakeCardRequest& request : card.Requests())
        writes += request.functionCode == 16 ? 1 : 0;
    return writes;
}

// A window showing the face of a fake card of type 4 that has been refreshed at least once, so
// that its snapshot is no longer the full one the face was built from.
class TolvarenDiagnosticsCsvTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_window.reset(new TolvarenDiagnostics(QStringLiteral("MainWindow")));
        m_window->show();
        m_created.reset(new SignalCounter(m_window.get(), &TolvarenDiagnostics::CardFaceCreated));
        m_refreshed.reset(
            new SignalCounter(m_window.get(), &TolvarenDiagnostics::CardFaceRefreshed));
        m_window->Comms()->UseCommsInterface(m_card);
        ASSERT_TRUE(m_created->Wait());
        ASSERT_TRUE(m_refreshed->Wait());
    }

    void TearDown() override
    {
        m_created.reset();
        m_refreshed.reset();
        m_window.reset();
    }

    // Triggers the card menu's entry and answers the dialogs by script until it has run out of
    // steps and no dialog is left open; then until more holds.
    void Run(
        const char* entry, ModalScript& script,
        const std::function<bool()>& more = [] { return true; })
    {
        QAction* action = nullptr;
        for (QAction* a : m_window->CardWidget()->OptionsMenu()->actions())
            action = a->text() == QLatin1String(entry) ? a : action;
        ASSERT_NE(action, nullptr) << entry;
        ASSERT_TRUE(action->isEnabled()) << entry;
        const bool done = script.Run([&] {
            action->trigger();
            return RunUntil([&] {
                       return script.StepsLeft() == 0 && !QApplication::activeModalWidget();
                   }) &&
                   more();
        });
        EXPECT_TRUE(done) << script.StepsLeft() << " steps left";
        EXPECT_TRUE(script.Unexpected().isEmpty()) << script.Unexpected().join(", ").toStdString();
    }

    QString Path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    QString WriteFile(const char* name, const QByteArray& content) const
    {
        QFile file(Path(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return file.fileName();
    }

    QStringList ReadLines(const QString& path) const
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
    }

    FakeSysfs m_sysfs;
    QTemporaryDir m_dir;
    boost::shared_ptr<FakeCard> m_card = boost::make_shared<FakeCard>(4, 9);
    FakeCardProtocol m_content{*m_card, 4, 9};
    std::unique_ptr<TolvarenDiagnostics> m_window;
    std::unique_ptr<SignalCounter> m_created, m_refreshed;
};

TEST_F(TolvarenDiagnosticsCsvTest, ExportRereadsTheCardBeforeAskingForTheFile)
{
    const QString path = Path("config.csv");
    QPointer<TolvarenCardWidget> first = m_window->CardWidget();
    bool rereadFirst = false;
    QString message;
    ModalScript script;
    script
        .Then([&](QWidget* modal) {
            // A new card face, built from a new full gathering, is already shown.
            rereadFirst = first.isNull() && m_window->CardWidget() &&
                          m_window->Gatherer()->Snapshot().fullGathering;
            ChooseFile(exportCaption, path)(modal);
        })
        .Then(Press(QMessageBox::Ok, &message));
    Run("Export card config to CSV file", script);
    EXPECT_TRUE(rereadFirst);
    EXPECT_EQ(message, QStringLiteral("Sucessfully created ") + path);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    const QStringList lines = ReadLines(path);
    ASSERT_GT(lines.size(), 20);
    EXPECT_EQ(lines[0], QStringLiteral("Serial number: 000000"));
    EXPECT_EQ(lines[1], QStringLiteral("Firmware version: 1.234"));
    EXPECT_TRUE(lines.contains(QString::fromLatin1(FakeCardProtocol::ConfigText())));
    EXPECT_TRUE(lines.contains(QStringLiteral("Watchdog:")));
    // Input 6 uses profile 5, which has no name in the card's catalogue.
    const QString input6 = QStringLiteral(",Input 6,2,\"Input label 6\",\"?\",\"PN-I6\",1.5,");
    const QString output9 = QStringLiteral(",Output 9,3,\"Output label 9\",");
    bool input6Seen = false, output9Seen = false;
    for (const QString& line : lines) {
        input6Seen = input6Seen || line.startsWith(input6);
        output9Seen = output9Seen || line.startsWith(output9);
    }
    EXPECT_TRUE(input6Seen);
    EXPECT_TRUE(output9Seen);

    // Cancelling the file dialog writes nothing and says nothing.
    QFile::remove(path);
    ModalScript cancel;
    cancel.Then(Cancel());
    Run("Export card config to CSV file", cancel, [&] { return m_refreshed->Wait(); });
    EXPECT_FALSE(QFile::exists(path));
}

TEST_F(TolvarenDiagnosticsCsvTest, AnExportWaitingForACardThatStopsAnsweringIsDropped)
{
    ModalScript script; // no dialog may appear
    Run("Export card config to CSV file", script, [&] {
        m_card->SetDropAllReplies(true);
        const bool reset = RunUntil([&] { return m_window->CardWidget() == nullptr; });
        m_card->SetDropAllReplies(false);
        return reset && m_created->Wait() && m_refreshed->Wait();
    });
}

TEST_F(TolvarenDiagnosticsCsvTest, ImportWritesTheConfirmedPointsAndRereadsTheCard)
{
    const QString path =
        WriteFile("points.csv", "I1,Pump,PN-7,first note\r\nOutput 2, Fan\nI99,y\nX,z\n");
    QStringList rows;
    QString message;
    ModalScript script;
    script.Then(ChooseFile(importCaption, path))
        .Then([&](QWidget* modal) {
            ASSERT_NE(qobject_cast<ConfigImportDialog*>(modal), nullptr);
            auto* table = modal->findChild<QTableWidget*>(QStringLiteral("tableWidget"));
            ASSERT_NE(table, nullptr);
            for (int row = 0; row < table->rowCount(); ++row) {
                QStringList cells;
                for (int column = 0; column < table->columnCount(); ++column)
                    cells << table->item(row, column)->text();
                rows << cells.join('|');
            }
            static_cast<QDialog*>(modal)->accept();
        })
        .Then(Press(QMessageBox::Ok, &message));
    Run("Import points fields from CSV file", script, [&] { return m_created->Wait(); });

    EXPECT_EQ(rows, QStringList({"Input 1|Pump|PN-7|first note", "Output 2| Fan||"}));
    EXPECT_EQ(message, QStringLiteral("Sucessfully imported ") + path +
                           QStringLiteral("\n\nAll data will now be refreshed."));
    // The new card face shows what the card now holds.
    const TolvarenSnapshot& s = m_window->Gatherer()->Snapshot();
    EXPECT_EQ(s.inputLabels.at(0), "Pump");
    EXPECT_EQ(s.inputPartNumbers.at(0), "PN-7");
    EXPECT_EQ(s.inputNotes.at(0), "first note");
    EXPECT_EQ(s.outputLabels.at(1), " Fan");
    EXPECT_EQ(s.outputPartNumbers.at(1), "");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(TolvarenDiagnosticsCsvTest, ImportFailuresAndCancelsEndInOneMessageOrNone)
{
    const QString good = WriteFile("good.csv", "I1,Pump\nO3,Fan\n");
    const QString tooLong = WriteFile("long.csv", QByteArray("I1,") + QByteArray(20000, 'x'));

    struct Case
    {
        const char* name;
        QString file;        // empty: the file dialog is cancelled
        bool confirm;        // the confirmation is accepted
        bool cardRefuses;    // the card refuses the label of input 1
        const char* message; // the start of the one message box, or none
        bool rereads;
    };
    const Case cases[] = {
        {"file dialog cancelled", QString(), false, false, nullptr, false},
        {"unreadable file", tooLong, false, false,
         "Failed to read points from file: Line 1 is too long", false},
        {"confirmation cancelled", good, false, false, nullptr, false},
        {"card refuses", good, true, true,
         "Failed to import points fields: Failed to import Input 1: ", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_card->ClearRequests();
        if (c.cardRefuses)
            m_card->FailAddress(16, 9200, 2);
        QPointer<TolvarenCardWidget> face = m_window->CardWidget();
        QString message;
        ModalScript script;
        if (c.file.isEmpty()) {
            script.Then(Cancel());
        } else {
            script.Then(ChooseFile(importCaption, c.file));
            if (c.message == nullptr || c.cardRefuses)
                script.Then(c.confirm ? ModalScript::Step(
                                            [](QWidget* m) { static_cast<QDialog*>(m)->accept(); })
                                      : Cancel());
        }
        if (c.message)
            script.Then(Press(QMessageBox::Ok, &message));
        Run("Import points fields from CSV file", script,
            [&] { return c.rereads ? m_created->Wait() : m_refreshed->Wait(2); });
        if (c.message) {
            EXPECT_TRUE(message.startsWith(QString::fromLatin1(c.message)))
                << message.toStdString();
        }
        EXPECT_EQ(face.isNull(), c.rereads);
        if (!c.confirm) {
            EXPECT_EQ(Writes(*m_card), 0u);
        }
        m_card->ClearFailures();
    }
}

} // namespace
