#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include "cardui/TolvarenCardWidget.h"
#include "modbus/ModbusMasterDatalink.h"
#include "protocol/TolvarenCommsCommon.h"
#include "simulator/FullCardSimulator.h"
#include "tests/cardui/CardUiDialogSteps.h"
#include "tests/support/FileSizeLimit.h"

using namespace CardUiDialogSteps;
using Tolvaren::Input;

namespace {

// Counts the F5 presses that reach the card face.
class F5Counter : public QObject
{
public:
    int presses = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_F5 &&
            static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier)
            ++presses;
        return false;
    }
};

// replacing: the file exists, and the dialog's question whether to replace it gets Yes (the
// question opens inside accept(), where the script's next step cannot reach it).
ModalScript::Step ChooseFile(const QString& path, bool replacing = false)
{
    return [path, replacing](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr) << modal->metaObject()->className();
        dialog->selectFile(path);
        if (replacing) {
            QTimer::singleShot(0, [] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                ASSERT_NE(box, nullptr);
                box->button(QMessageBox::Yes)->click();
            });
        }
        QMetaObject::invokeMethod(dialog, "accept");
    };
}

QByteArray Contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray Bytes(const ByteVec& bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
}

// The card face on the full simulated card, with its data folder in a temporary directory.
class CardConfigFlowTest : public ::testing::Test
{
protected:
    CardConfigFlowTest()
    {
        DEDOCardSimulator::ResetSharedStores();
        qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
        datalink.SetReplyTimeoutMs(200); // the restart is never answered
        face = new TolvarenCardWidget(&datalink, &window);
        face->installEventFilter(&f5);
    }
    ~CardConfigFlowTest() override { qunsetenv("XDG_DATA_HOME"); }

    QAction* Entry(const char* text)
    {
        for (QAction* action : face->OptionsMenu()->actions())
            if (action->text() == text)
                return action;
        ADD_FAILURE() << "no entry " << text;
        return nullptr;
    }
    ByteVec CardImage()
    {
        TolvarenCommsCommon comms(datalink);
        return comms.GetCardConfig().get();
    }
    // The safety copies made so far.
    QStringList Backups()
    {
        QStringList found;
        QDirIterator it(dataHome.path(), {"*.dat"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            found << it.next();
        return found;
    }
    void WaitForF5(int presses)
    {
        for (int i = 0; i < 1000 && f5.presses < presses; ++i)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        EXPECT_EQ(f5.presses, presses);
    }

    QTemporaryDir dataHome;
    QTemporaryDir files;
    FullCardSimulator card;
    ModbusMasterDatalink datalink{&card};
    QWidget window;
    TolvarenCardWidget* face = nullptr;
    F5Counter f5;
};

TEST_F(CardConfigFlowTest, SaveThenRestoreKeepsASafetyCopyAndRereadsTheCard)
{
    const ByteVec original = CardImage();
    ModalScript save;
    save.Then(ChooseFile(files.filePath("card")));
    save.Run([&] { Entry("Save card config to file")->trigger(); });
    EXPECT_TRUE(save.Unexpected().isEmpty());
    const QString saved = files.filePath("card.dat");
    EXPECT_EQ(Contents(saved), Bytes(original));

    {
        TolvarenCommsCommon comms(datalink);
        comms.SetIoNote(Input, 2, "moved to bay 4").get();
    }
    const ByteVec edited = CardImage();
    ASSERT_NE(edited, original);

    QString question, outcome;
    ModalScript restore;
    restore.Then(ChooseFile(saved))
        .Then(Press(QMessageBox::Yes, &question))
        .Then(Press(QMessageBox::Ok, &outcome));
    restore.Run([&] { Entry("Set card config from file")->trigger(); });
    EXPECT_TRUE(restore.Unexpected().isEmpty());
    EXPECT_EQ(question, "Proceeding will overwrite configuration data in the card, with the "
                        "contents of the file:\n\n" +
                            saved + "\n\nAre you sure?");
    EXPECT_EQ(
        outcome,
        "Card configuration successfully updated.\n\nAll displayed data will now be refreshed.");
    WaitForF5(1);
    EXPECT_EQ(CardImage(), original);

    const QStringList backups = Backups();
    ASSERT_EQ(backups.size(), 1);
    const QString copy = backups.value(0);
    EXPECT_TRUE(copy.contains("/ConfigBackups/1207_")) << copy.toStdString();
    EXPECT_EQ(Contents(copy), Bytes(edited));

    // No to the question writes nothing.
    ModalScript declined;
    declined.Then(ChooseFile(saved)).Then(Press(QMessageBox::No));
    declined.Run([&] { Entry("Set card config from file")->trigger(); });
    EXPECT_TRUE(declined.Unexpected().isEmpty());
    EXPECT_EQ(Backups().size(), 1);
}

TEST_F(CardConfigFlowTest, FailuresAreReportedAndTheCardIsStillReread)
{
    QString text;
    ModalScript missing;
    missing.Then(Press(QMessageBox::Ok, &text));
    missing.Run([&] { face->DoSetCardConfig(files.filePath("none.dat")); });
    EXPECT_EQ(text, "Failed to update card configuration: cannot open file\n\nAll data will now "
                    "be refreshed.");
    WaitForF5(1);

    // A file that cannot be created.
    ModalScript noFolder;
    noFolder.Then(ChooseFile(files.filePath("missing/card.dat")))
        .Then(Press(QMessageBox::Ok, &text));
    noFolder.Run([&] { Entry("Save card config to file")->trigger(); });
    EXPECT_TRUE(text.startsWith("Failed to save card configuration: Cannot open file: ") &&
                text.endsWith("/missing/card.dat"))
        << text.toStdString();

    // A card that cannot be read for the safety copy (a blank replacement) is still restored,
    // after a warning.
    const ByteVec image = CardImage();
    const QString path = files.filePath("good.dat");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(Bytes(image));
    }
    card.SetVendorCommand(1, [](const ByteVec&, ByteVec&, std::int64_t) { return 4; });
    QString warning;
    ModalScript restore;
    restore.Then(Press(QMessageBox::Ok, &warning)).Then(Press(QMessageBox::Ok, &text));
    restore.Run([&] { face->DoSetCardConfig(path); });
    EXPECT_TRUE(
        warning.startsWith("No safety copy kept: the card's configuration cannot be read: "))
        << warning.toStdString();
    EXPECT_EQ(
        text,
        "Card configuration successfully updated.\n\nAll displayed data will now be refreshed.");
    WaitForF5(2);
    EXPECT_TRUE(Backups().isEmpty());

    // Saving from that card fails with the card's error.
    ModalScript save;
    save.Then(Press(QMessageBox::Ok, &text));
    save.Run([&] { Entry("Save card config to file")->trigger(); });
    EXPECT_TRUE(text.startsWith("Failed to save card configuration: ")) << text.toStdString();
}

// A full disk: the saved file stays as it was, and a restore whose safety copy cannot be kept
// writes nothing into the card.
TEST_F(CardConfigFlowTest, AFullDiskKeepsTheOldFileAndStopsTheRestore)
{
    const QString saved = files.filePath("card.dat");
    ModalScript save;
    save.Then(ChooseFile(saved));
    save.Run([&] { Entry("Save card config to file")->trigger(); });
    const QByteArray good = Contents(saved);
    ASSERT_FALSE(good.isEmpty());
    {
        TolvarenCommsCommon comms(datalink);
        comms.SetIoNote(Input, 2, "moved to bay 4").get();
    }
    const ByteVec edited = CardImage();

    QString saveBox, restoreBox;
    ModalScript full;
    full.Then(ChooseFile(saved, true)).Then(Press(QMessageBox::Ok, &saveBox));
    ModalScript restore;
    restore.Then(Press(QMessageBox::Ok, &restoreBox));
    {
        FileSizeLimit limit(100);
        full.Run([&] { Entry("Save card config to file")->trigger(); });
        restore.Run([&] { face->DoSetCardConfig(saved); });
    }
    EXPECT_EQ(saveBox, "Cannot write to file: " + saved);
    EXPECT_EQ(Contents(saved), good);
    EXPECT_TRUE(restoreBox.startsWith("Failed to update card configuration: no safety copy kept: "
                                      "Cannot write to file: "))
        << restoreBox.toStdString();
    WaitForF5(1);
    EXPECT_EQ(CardImage(), edited);
    EXPECT_TRUE(Backups().isEmpty());
}

} // namespace
