#include <memory>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTest>

#include <gtest/gtest.h>

#include "cardui/CardDetailsWidget.h"
#include "cardui/IoPointFormats.h"
#include "cardui/IoPointWidget.h"
#include "cardui/TolvarenCardWidget.h"
#include "comms/ExceptionWithString.h"
#include "modbus/ModbusMasterDatalink.h"
#include "protocol/TolvarenSnapshotGatherer.h"
#include "simulator/DEDOCardSimulator.h"
#include "simulator/FullCardSimulator.h"
#include "tests/cardui/CardFaceTestHelpers.h"
#include "tests/cardui/CardUiDialogSteps.h"
#include "tests/protocol/FakeCardRig.h"
#include "tests/support/CardUiRig.h"
#include "tests/support/FutureWait.h"
#include "widgets/AboutDialog.h"
#include "widgets/ConfigInfoWindow.h"
#include "widgets/LongTextLabel.h"
#include "widgets/ProgressDialog.h"

using namespace CardUiDialogSteps;

// Stands in for the main window with its two CSV slots.
class CsvSlotsWindow : public QWidget
{
    Q_OBJECT

public:
    int exports = 0;
    int imports = 0;

public slots:
    void ExportToCsv() { ++exports; }
    void ImportFromCsv() { ++imports; }
};

namespace {

QStringList EntryTexts(QMenu* menu)
{
    QStringList texts;
    for (QAction* action : menu->actions())
        texts << (action->isSeparator() ? QString("-") : action->text());
    return texts;
}

QAction* Entry(QMenu* menu, const QString& text)
{
    for (QAction* action : menu->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

// Each row's texts against the snapshot it was refreshed from.
void ExpectRowsMatch(const TolvarenSnapshot& s, const std::vector<IoPointWidget*>& rows)
{
    ASSERT_EQ(rows.size(), s.numInputs + s.numOutputs);
    for (IoPointWidget* row : rows) {
        const bool input = row->Direction() == Tolvaren::Input;
        const unsigned i = row->Index();
        const QString name = QString(input ? "Input\n%1" : "Output\n%1").arg(i + 1);
        EXPECT_EQ(Text(row, "ioPointNameLabel"), name);
        EXPECT_EQ(Text(row, "labelLabel"),
                  QString::fromStdString(input ? s.inputLabels[i] : s.outputLabels[i]));
        EXPECT_EQ(row->ProfileId(), input ? s.inputProfileIds[i] : s.outputProfileIds[i]);
        const float value = input ? s.inputValues[i] : s.outputValues[i];
        EXPECT_EQ(Text(row, "valueLabel"),
                  IoPointFormats::Value(value, row->ProfileId(), row->Unit()))
            << name.toStdString();
        EXPECT_EQ(Text(row, "scalingLabel"), row->ProfileName());
    }
}

TEST(TolvarenCardWidgetTest, SimulatedCardFace)
{
    DEDOCardSimulator card;
    ModbusMasterDatalink datalink(&card);
    TolvarenSnapshotGatherer gatherer(datalink);
    Gather(gatherer);
    const TolvarenSnapshot& s = gatherer.Snapshot();

    CsvSlotsWindow window;
    auto* face = new TolvarenCardWidget(&datalink, &window);
    EXPECT_EQ(face->CardType(), 0);
    // The image resource is registered by the library itself.
    EXPECT_FALSE(face->findChild<QLabel*>("label_4")->pixmap(Qt::ReturnByValue).isNull());
    face->UpdateFromSnapshot(&gatherer);

    EXPECT_EQ(face->CardType(), 4);
    EXPECT_EQ(Text(face, "titleLabel"),
              QString("KTV-ROLM-73C6E - Serial Number %1").arg(s.serialNumber));
    EXPECT_EQ(Text(face, "firmwareVersionLabel"), "1.234 - calibrated");
    EXPECT_EQ(Text(face, "hardwareRevisionLabel"), "1");
    EXPECT_EQ(Text(face, "supplyVoltageLabel"), "24.0");
    EXPECT_EQ(Text(face, "healthyLabel"), "HEALTHY");
    EXPECT_FALSE(face->findChild<QLabel*>("resetOccurredLabel")->isHidden());
    EXPECT_EQ(face->findChild<QStackedWidget*>("stackedWidget")->currentWidget()->objectName(),
              "singlePage");
    ASSERT_NE(face->DetailsWidget(), nullptr);
    EXPECT_EQ(face->CurrentScrollArea()->widget(), face->DetailsWidget());

    const auto& rows = face->DetailsWidget()->PointRows();
    ASSERT_EQ(rows.size(), 48u);
    EXPECT_EQ(std::count_if(rows.begin(), rows.end(),
                            [](IoPointWidget* r) { return r->Direction() == Tolvaren::Input; }),
              24);
    EXPECT_EQ(Text(rows[0], "labelLabel"), "Input 1");
    EXPECT_EQ(Text(rows[24], "labelLabel"), "Output 1");
    ExpectRowsMatch(s, rows);

    // An incremental refresh keeps the face and shows the new values.
    Gather(gatherer);
    ASSERT_FALSE(s.fullGathering);
    face->UpdateFromSnapshot(&gatherer);
    EXPECT_EQ(face->DetailsWidget()->PointRows().size(), 48u);
    ExpectRowsMatch(s, face->DetailsWidget()->PointRows());
}

TEST(TolvarenCardWidgetTest, OptionsMenuGrowsAtTheFirstUpdate)
{
    CardUiRig rig;
    TolvarenSnapshot& s = rig.Fill(4, 9, 2, 2);
    CsvSlotsWindow window;
    auto* face = new TolvarenCardWidget(&rig.datalink, &window);
    QMenu* menu = face->findChild<QPushButton*>("menuButton")->menu();
    ASSERT_EQ(menu, face->OptionsMenu());
    const QStringList before{"Save card config to file",
                             "Set card config from file",
                             "-",
                             "Export card config to CSV file",
                             "Import points fields from CSV file",
                             "Import format help",
                             "-",
                             "Save card report...",
                             "-"};
    EXPECT_EQ(EntryTexts(menu), before);

    Entry(menu, "Export card config to CSV file")->trigger();
    Entry(menu, "Import points fields from CSV file")->trigger();
    EXPECT_EQ(window.exports, 1);
    EXPECT_EQ(window.imports, 1);

    s.trafficLogSupported = true;
    face->UpdateFromSnapshot(&rig.gatherer);
    face->UpdateFromSnapshot(&rig.gatherer); // only once
    const QStringList after{"8-day data", "Modbus traffic", "Show dip-switch configuration",
                            "About"};
    EXPECT_EQ(EntryTexts(menu), before + after);
    QMenu* eightDay = Entry(menu, "8-day data")->menu();
    ASSERT_NE(eightDay, nullptr);
    EXPECT_EQ(EntryTexts(eightDay),
              (QStringList{"Download all data to CSV file", "Clear all data for all IO"}));
    for (QAction* action : eightDay->actions())
        EXPECT_TRUE(action->isEnabled()) << action->text().toStdString();
    // Entries whose operation the program does not offer are disabled, never silently idle.
    EXPECT_TRUE(Entry(menu, "Modbus traffic")->isEnabled());
    for (const char* offered : {"Save card config to file", "Set card config from file",
                                "Show dip-switch configuration", "About"})
        EXPECT_TRUE(Entry(menu, offered)->isEnabled()) << offered;
    for (QAction* action : menu->actions())
        EXPECT_TRUE(action->shortcut().isEmpty());
}

TEST(TolvarenCardWidgetTest, CsvEntriesNeedTheWindowsSlots)
{
    CardUiRig rig;
    QWidget plainParent;
    auto* face = new TolvarenCardWidget(&rig.datalink, &plainParent);
    EXPECT_FALSE(Entry(face->OptionsMenu(), "Export card config to CSV file")->isEnabled());
    EXPECT_FALSE(Entry(face->OptionsMenu(), "Import points fields from CSV file")->isEnabled());
}

TEST(TolvarenCardWidgetTest, UnknownCardTypeIsRefused)
{
    for (int type : {0, 5}) {
        CardUiRig rig;
        rig.Fill(type, 9, 1, 1);
        TolvarenCardWidget face(&rig.datalink, nullptr);
        try {
            face.UpdateFromSnapshot(&rig.gatherer);
            ADD_FAILURE() << "type " << type << " accepted";
        } catch (const ExceptionWithString& e) {
            EXPECT_STREQ(e.what(), "invalid card type");
        }
        EXPECT_EQ(face.DetailsWidget(), nullptr);
    }
}

TEST(TolvarenCardWidgetTest, HeaderAndFooterFromTheSnapshot)
{
    struct Case
    {
        int type;
        const char* name;
        std::uint16_t revision;
        const char* revisionText;
    };
    const Case cases[] = {
        {1, "Tolvaren Input Card", 3, "3/4"},
        {2, "Tolvaren Output Card", 3, "3"},
        {3, "KTV-ROLM 915", 7, "7"},
        {4, "KTV-ROLM-73C6E", 3, "3"},
    };
    for (const Case& c : cases) {
        CardUiRig rig;
        TolvarenSnapshot& s = rig.Fill(c.type, 9, 2, 2);
        s.hardwareRevision = c.revision;
        s.serialNumber = 60123;
        TolvarenCardWidget face(&rig.datalink, nullptr);
        face.UpdateFromSnapshot(&rig.gatherer);
        EXPECT_EQ(Text(&face, "titleLabel"), QString(c.name) + " - Serial Number 60123");
        EXPECT_EQ(Text(&face, "hardwareRevisionLabel"), c.revisionText) << c.type;
    }

    CardUiRig rig;
    TolvarenSnapshot& s = rig.Fill(2, 10, 0, 4);
    TolvarenCardWidget face(&rig.datalink, nullptr);
    s.calibrated = false;
    s.healthy = false;
    s.resetOccurred = false;
    s.boardVoltage = 23.96f;
    face.UpdateFromSnapshot(&rig.gatherer);
    EXPECT_EQ(Text(&face, "firmwareVersionLabel"), "2.10 - NOT calibrated");
    EXPECT_EQ(Text(&face, "supplyVoltageLabel"), "24.0");
    EXPECT_EQ(Text(&face, "healthyLabel"), "FAULT");
    auto* health = face.findChild<QLabel*>("healthyLabel");
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        EXPECT_EQ(health->palette().color(group, QPalette::WindowText), QColor(Qt::red));
    EXPECT_TRUE(face.findChild<QLabel*>("resetOccurredLabel")->isHidden());

    // The header follows every snapshot; the title does not.
    s.calibrated = true;
    s.healthy = true;
    s.resetOccurred = true;
    s.serialNumber = 1;
    face.UpdateFromSnapshot(&rig.gatherer);
    EXPECT_EQ(Text(&face, "firmwareVersionLabel"), "2.10 - calibrated");
    EXPECT_EQ(Text(&face, "healthyLabel"), "HEALTHY");
    EXPECT_EQ(health->palette().color(QPalette::Active, QPalette::WindowText), QColor(Qt::black));
    EXPECT_FALSE(face.findChild<QLabel*>("resetOccurredLabel")->isHidden());
    EXPECT_EQ(Text(&face, "titleLabel"), "Tolvaren Output Card - Serial Number 4321");
}

TEST(TolvarenCardWidgetTest, ControlModulesUseTheTabbedPage)
{
    CardUiRig rig;
    rig.Fill(4, 10, 2, 2).numControlModules = 2;
    TolvarenCardWidget face(&rig.datalink, nullptr);
    EXPECT_EQ(face.CurrentScrollArea()->objectName(), "detailsContainerSingle");
    face.UpdateFromSnapshot(&rig.gatherer);
    EXPECT_EQ(face.CurrentScrollArea()->objectName(), "detailsContainerTabbed");
    EXPECT_EQ(face.findChild<QStackedWidget*>("stackedWidget")->currentWidget()->objectName(),
              "tabsPage");
    EXPECT_EQ(face.CurrentScrollArea()->widget(), face.DetailsWidget());
}

TEST(TolvarenCardWidgetTest, PendingScrollPositionIsAppliedOnce)
{
    CardUiRig rig;
    rig.Fill(4, 10, 24, 24);
    TolvarenCardWidget face(&rig.datalink, nullptr);
    face.resize(764, 448);
    face.show();

    // Nothing to scroll yet: the position waits for the range.
    face.RestoreScrollPosition(5, 300);
    QScrollBar* bar = face.CurrentScrollArea()->verticalScrollBar();
    EXPECT_EQ(bar->value(), 0);

    face.UpdateFromSnapshot(&rig.gatherer);
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar->maximum() > 300; }, 5000));
    EXPECT_EQ(bar->value(), 300);
    int h = -1, v = -1;
    face.GetScrollPosition(h, v);
    EXPECT_EQ(h, 0); // the horizontal value is never applied
    EXPECT_EQ(v, 300);

    // A later range change leaves the user's position alone.
    bar->setValue(10);
    const int oldMax = bar->maximum();
    face.resize(764, 300);
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar->maximum() != oldMax; }, 5000));
    EXPECT_EQ(bar->value(), 10);

    // With a range already known, the position is applied at once.
    face.RestoreScrollPosition(0, 120);
    EXPECT_EQ(bar->value(), 120);
}

TEST(TolvarenCardWidgetTest, LongWordsInNotesAndLabelsDoNotWidenTheFace)
{
    const std::string url = "https://example.com/line3/" + std::string(150, 'x') + ".pdf";
    const std::string label(40, 'W');
    // The width the rows need, and whether they fit a face of the given width without
    // sideways scrolling.
    auto rowsWidth = [&](bool longWords, int faceWidth, bool* fits) {
        CardUiRig rig;
        TolvarenSnapshot& s = rig.Fill(4, 10, 24, 24);
        s.outputNotes[1] = longWords ? "Wiring: see " + url + " (sheet 4)" : "Wiring: sheet 4";
        if (longWords) {
            s.inputLabels[0] = label;
            s.outputPartNumbers[3] = "PN" + std::string(13, 'W');
        }
        TolvarenCardWidget face(&rig.datalink, nullptr);
        face.UpdateFromSnapshot(&rig.gatherer);
        face.resize(faceWidth, 448);
        face.show();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        *fits = face.CurrentScrollArea()->horizontalScrollBar()->maximum() == 0;
        auto* shown = face.DetailsWidget()->PointRows()[0]->findChild<LongTextLabel*>("labelLabel");
        EXPECT_TRUE(shown && shown->IsElided() == longWords); // drawn short, text() whole
        return face.DetailsWidget()->minimumSizeHint().width();
    };
    bool fits = false;
    const int without = rowsWidth(false, 764, &fits);
    EXPECT_EQ(rowsWidth(true, without + 100, &fits), without);
    EXPECT_TRUE(fits);
}

TEST(TolvarenCardWidgetTest, ImportFormatHelpText)
{
    CardUiRig rig;
    TolvarenCardWidget face(&rig.datalink, nullptr);
    QString text;
    ModalScript script;
    script.Then(Press(QMessageBox::Ok, &text));
    script.Run([&] { Entry(face.OptionsMenu(), "Import format help")->trigger(); });
    EXPECT_TRUE(
        text.startsWith("The first four columns of the CSV file are read in as:\n\n    I1, "));
    EXPECT_TRUE(text.endsWith("Lines that don't start with I<n> or O<n> are ignored.\n"));
}

TEST(TolvarenCardWidgetTest, AboutBoxIsModalWithoutParent)
{
    CardUiRig rig;
    rig.Fill(4, 9, 1, 1);
    TolvarenCardWidget face(&rig.datalink, nullptr);
    face.UpdateFromSnapshot(&rig.gatherer);
    QString version;
    ModalScript script;
    script.Then([&](QWidget* modal) {
        EXPECT_NE(qobject_cast<AboutDialog*>(modal), nullptr) << modal->metaObject()->className();
        EXPECT_EQ(modal->parentWidget(), nullptr);
        version = modal->findChild<QLabel*>("versionLabel")->text();
        static_cast<QDialog*>(modal)->reject();
    });
    script.Run([&] { Entry(face.OptionsMenu(), "About")->trigger(); });
    EXPECT_EQ(script.StepsLeft(), 0);
    EXPECT_EQ(version,
              QString("Version %1.%2").arg(TOLVAREN_VERSION_MAJOR).arg(TOLVAREN_VERSION_MINOR));
}

// Each main window has its own card link, so each gets its own configuration window, shown again
// rather than doubled, and gone with the window that owns the link.
TEST(TolvarenCardWidgetTest, DipSwitchWindowBelongsToTheCardsMainWindow)
{
    FullCardSimulator fullCard;
    ModbusMasterDatalink fullLink(&fullCard);
    TolvarenSnapshotGatherer gatherer(fullLink);
    Gather(gatherer);
    DEDOCardSimulator otherCard;
    ModbusMasterDatalink otherLink(&otherCard);

    auto* mainWindow = new QWidget;
    auto* face = new TolvarenCardWidget(&fullLink, mainWindow);
    face->UpdateFromSnapshot(&gatherer);
    QAction* entry = Entry(face->OptionsMenu(), "Show dip-switch configuration");
    entry->trigger();
    QPointer<ConfigInfoWindow> shown = mainWindow->findChild<ConfigInfoWindow*>();
    ASSERT_FALSE(shown.isNull());
    EXPECT_TRUE(shown->isWindow());
    EXPECT_TRUE(shown->isVisible());
    auto text = [](ConfigInfoWindow* w) {
        return w->findChild<QPlainTextEdit*>("dipswitchConfigWidget")->toPlainText();
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return text(shown).contains("= address 1\n"); }, 10000))
        << text(shown).toStdString();
    EXPECT_TRUE(text(shown).startsWith("KTV-ROLM-73C6E (simulated), serial 1207\n"));

    shown->hide();
    entry->trigger();
    EXPECT_EQ(mainWindow->findChildren<ConfigInfoWindow*>().size(), 1);
    EXPECT_TRUE(shown->isVisible());

    QWidget outputWindow;
    TolvarenCardWidget otherFace(&otherLink, &outputWindow);
    otherFace.ShowDipSwitchConfig();
    auto* other = outputWindow.findChild<ConfigInfoWindow*>();
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, shown.data());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return text(other) == "Card simulation with Modbus address of 1"; }, 10000));

    delete mainWindow;
    EXPECT_TRUE(shown.isNull());
}

// The main window lets its datalink go before its child windows: a configuration window still
// waiting for the card then goes without touching the link.
TEST(TolvarenCardWidgetTest, DipSwitchWindowOutlivingTheLinkGoesQuietly)
{
    FakeCardRig rig(4, 9);
    rig.card.SetDropAllReplies(true);
    auto link = std::make_unique<ModbusMasterDatalink>(&rig.card);
    link->SetReplyTimeoutMs(60000);
    auto mainWindow = std::make_unique<QWidget>();
    auto* face = new TolvarenCardWidget(link.get(), mainWindow.get());
    face->ShowDipSwitchConfig();
    QPointer<ConfigInfoWindow> shown = mainWindow->findChild<ConfigInfoWindow*>();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.card.RequestCount() >= 1; }, 10000));

    link.reset();
    QCoreApplication::sendPostedEvents(); // whatever the dropped request queued
    mainWindow.reset();
    EXPECT_TRUE(shown.isNull());
}

TEST(TolvarenCardWidgetTest, ResetPromptClearsTheFlagOnYesOnly)
{
    DEDOCardSimulator card;
    ModbusMasterDatalink datalink(&card);
    TolvarenCardWidget face(&datalink, nullptr);
    auto* link = face.findChild<QLabel*>("resetOccurredLabel");
    ASSERT_EQ(card.Coil(912).value_or(false), true);

    QString question;
    ModalScript no;
    no.Then(Press(QMessageBox::No, &question));
    no.Run([&] { emit link->linkActivated("reset"); });
    EXPECT_TRUE(question.startsWith("Power failure or other reset occurred at "))
        << question.toStdString();
    EXPECT_TRUE(question.endsWith("\n\nClear the reset flag?"));
    EXPECT_EQ(card.Coil(912).value_or(false), true);

    ModalScript yes;
    yes.Then(Press(QMessageBox::Yes));
    yes.Run([&] { emit link->linkActivated("reset"); });
    EXPECT_EQ(yes.StepsLeft(), 0);
    EXPECT_EQ(card.Coil(912).value_or(true), false);
}

TEST(TolvarenCardWidgetTest, ClearAllHistoricalDataClearsEveryPoint)
{
    FakeCardRig rig(4, 9);
    std::vector<ByteVec> cleared;
    rig.card.SetVendorHandler(18, [&](const ByteVec& arguments, ByteVec&) {
        cleared.push_back(arguments);
        return 0;
    });
    CardUiRig ui; // only for a snapshot to build the menu from
    ui.Fill(4, 9, 1, 1);
    TolvarenCardWidget face(&rig.datalink, nullptr);
    face.UpdateFromSnapshot(&ui.gatherer);
    QAction* clear =
        Entry(Entry(face.OptionsMenu(), "8-day data")->menu(), "Clear all data for all IO");
    ASSERT_NE(clear, nullptr);

    // Enter alone answers No.
    ModalScript no;
    no.Then(PressEnter());
    no.Run([&] { clear->trigger(); });
    EXPECT_EQ(no.StepsLeft(), 0);
    EXPECT_TRUE(cleared.empty());

    QString done;
    ModalScript yes;
    yes.Then(Press(QMessageBox::Yes)).Then(Press(QMessageBox::Ok, &done));
    yes.Run([&] { clear->trigger(); });
    EXPECT_EQ(done, "All 8-day data cleared.");
    ASSERT_EQ(cleared.size(), 48u);
    EXPECT_EQ(cleared.front(), ByteVec({0, 0}));
    EXPECT_EQ(cleared[23], ByteVec({0, 23}));
    EXPECT_EQ(cleared[24], ByteVec({1, 0}));
    EXPECT_EQ(cleared.back(), ByteVec({1, 23}));

    // A refusing card stops the loop at its first point.
    rig.card.RemoveVendorHandler(18);
    rig.card.ClearRequests();
    QString failure;
    ModalScript failing;
    failing.Then(Press(QMessageBox::Yes)).Then(Press(QMessageBox::Ok, &failure));
    failing.Run([&] { clear->trigger(); });
    EXPECT_TRUE(failure.startsWith("Failed to clear all 8-day data: ")) << failure.toStdString();
    EXPECT_EQ(rig.Vendor(18).size(), 1u);
}

// Answers the dialogs of an 8-day download as a user would: the file dialog with a file name,
// every message box with OK (recording its text), and the progress dialog through onProgress,
// once, when it first shows.
struct DownloadUser
{
    QString file;
    std::function<void(ProgressDialog*)> onProgress;
    QStringList messages;
    bool progressShown = false;

    void Answer()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        if (auto* files = qobject_cast<QFileDialog*>(modal)) {
            files->selectFile(file);
            QMetaObject::invokeMethod(files, "accept");
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            messages << box->text();
            if (QAbstractButton* ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->reject();
        } else if (auto* progress = qobject_cast<ProgressDialog*>(modal)) {
            if (!progressShown && onProgress)
                onProgress(progress);
            progressShown = true;
        }
    }

    // Triggers the menu entry and answers until it returns; then lets a message box that was
    // still queued show up.
    void Run(QAction* download)
    {
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [this] { Answer(); });
        timer.start(0);
        download->trigger();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
};

// A type-3 card with 8-day data behind a card face whose menu is complete.
struct DownloadFace
{
    FakeCardRig rig{3, 9};
    CardUiRig ui; // only for a snapshot to build the menu from
    TolvarenCardWidget face{&rig.datalink, nullptr};
    QTemporaryDir folder;
    DownloadUser user;

    DownloadFace()
    {
        rig.content.SetNamedVariable("HistoricalDataSampleIntervalMsecs",
                                     CPackedVal::FromFloat(900000.0f));
        rig.content.SetNamedVariable("HistoricalDataMsecsSinceLastStore",
                                     CPackedVal::FromFloat(0.0f));
        rig.content.SetHistoricalSamples(Tolvaren::Input, 0, {1, 2, 3});
        rig.content.SetHistoricalSamples(Tolvaren::Output, 8, {4, 5});
        ui.Fill(3, 9, 6, 9);
        face.UpdateFromSnapshot(&ui.gatherer);
        user.file = folder.filePath("eight-day.csv");
    }

    QAction* DownloadEntry()
    {
        QAction* entry =
            Entry(Entry(face.OptionsMenu(), "8-day data")->menu(), "Download all data to CSV file");
        EXPECT_TRUE(entry && entry->isEnabled());
        return entry;
    }

    QStringList FileLines() const
    {
        QFile file(user.file);
        if (!file.open(QIODevice::ReadOnly))
            return QStringList() << "(no file)";
        return QString::fromLatin1(file.readAll()).split("\r\n");
    }
};

// Whether this process still has the file open (on Linux, a link in /proc/self/fd).
bool FileIsOpen(const QString& path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    if (target.isEmpty())
        return false; // no such file (an open file that was removed is listed as "(deleted)")
    const QDir fds("/proc/self/fd");
    for (const QString& fd :
         fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        if (QFileInfo(fds.filePath(fd)).symLinkTarget() == target)
            return true;
    }
    return false;
}

TEST(TolvarenCardWidgetTest, DownloadAllHistoricalDataEndToEnd)
{
    DownloadFace t;
    t.user.Run(t.DownloadEntry());
    EXPECT_TRUE(t.user.progressShown);
    EXPECT_EQ(t.user.messages, QStringList{"All data retrieved successfully."});
    const QStringList lines = t.FileLines();
    ASSERT_EQ(lines.size(), 2 + 1 + 3 + 1) << lines.join("|").toStdString();
    EXPECT_TRUE(lines[2].startsWith("Date/Time,Input label 1 (),"));
    EXPECT_TRUE(lines[5].endsWith(",3,,,,,,,,,,,,,,5"));
    EXPECT_EQ(lines[6], "");
    EXPECT_TRUE(t.face.findChildren<ProgressDialog*>().isEmpty());

    // A card that refuses the data: the error in the one message box.
    t.rig.card.FailVendorCommand(17, 4);
    t.user.messages.clear();
    t.user.file = t.folder.filePath("refused.csv");
    t.user.Run(t.DownloadEntry());
    EXPECT_EQ(t.user.messages, QStringList{"Failed: node returned an error: device failure"});
}

TEST(TolvarenCardWidgetTest, CancelledDownloadClosesAfterTheWorkerStopped)
{
    DownloadFace t;
    // The worker waits for the card's first answer, with the file open, until it is cancelled.
    t.rig.card.HoldReplies();
    bool openWhenClosed = true;
    t.user.onProgress = [&](ProgressDialog* progress) {
        QObject::connect(progress, &QDialog::finished,
                         [&] { openWhenClosed = FileIsOpen(t.user.file); });
        // The worker opens the file before it asks the card anything.
        EXPECT_TRUE(t.rig.card.WaitForRequests(1));
        EXPECT_TRUE(FileIsOpen(t.user.file));
        progress->findChild<QPushButton*>("cancelButton")->click();
        t.rig.card.ReleaseReplies(); // the request still outstanding completes
    };
    t.user.Run(t.DownloadEntry());
    EXPECT_TRUE(t.user.progressShown);
    EXPECT_FALSE(openWhenClosed);
    EXPECT_TRUE(t.user.messages.isEmpty()) << t.user.messages.join("|").toStdString();
    // Cancelled before the first line: the file the download made is gone again.
    EXPECT_EQ(t.FileLines(), QStringList{"(no file)"});
}

} // namespace

#include "TolvarenCardWidgetTest.moc"
