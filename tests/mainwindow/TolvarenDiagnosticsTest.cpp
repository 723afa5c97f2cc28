#include "mainwindow/TolvarenDiagnostics.h"

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include <QAction>
#include <QApplication>
#include <QDesktopWidget>
#include <QDialog>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QPixmapCache>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QTest>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "app/DpiHackery.h"
#include "app/EventLoopTrackingApp.h"
#include "cardui/CardDetailsWidget.h"
#include "cardui/IoPointWidget.h"
#include "cardui/TolvarenCardWidget.h"
#include "graphs/GraphWindow.h"
#include "comms/AutoReconnectSerialComms.h"
#include "modbus/ModbusCrc.h"
#include "protocol/TolvarenCommsCommon.h"
#include "protocol/TolvarenSnapshotGatherer.h"
#include "simulator/FullCardSimulator.h"
#include "tests/mainwindow/WindowWaits.h"
#include "tests/support/FakeCard.h"
#include "tests/support/FakeCardProtocol.h"
#include "tests/support/FakeSysfs.h"
#include "widgets/CommsTrafficWindow.h"
#include "widgets/ExtendedTableWidget.h"
#include "tests/support/PtyPair.h"

namespace {

// A card of the given type and register-map version with full protocol contents.
struct PluggedCard
{
    boost::shared_ptr<FakeCard> card;
    std::unique_ptr<FakeCardProtocol> content;

    PluggedCard(int cardType, std::uint16_t version)
        : card(boost::make_shared<FakeCard>(cardType, version)),
          content(new FakeCardProtocol(*card, cardType, version))
    {
    }
};

class TolvarenDiagnosticsTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        m_window.reset();
        m_otherWindow.reset();
    }

    TolvarenDiagnostics* Create(const QString& group = QStringLiteral("MainWindow"))
    {
        auto window = std::make_unique<TolvarenDiagnostics>(group, nullptr,
                                                            Qt::WindowMinimizeButtonHint);
        window->show();
        auto& slot = m_window ? m_otherWindow : m_window;
        slot = std::move(window);
        return slot.get();
    }

    bool WaitForStatus(TolvarenDiagnostics* window, const QString& text)
    {
        const bool seen = RunUntil([&] { return window->StatusText() == text; });
        if (!seen)
            ADD_FAILURE() << "status stayed \"" << window->StatusText().toStdString() << "\"";
        return seen;
    }

    // The fake sysfs comes first and goes last: the comms enumerate it, and the settings store
    // lives in its folder.
    FakeSysfs m_sysfs;
    std::unique_ptr<TolvarenDiagnostics> m_window;
    std::unique_ptr<TolvarenDiagnostics> m_otherWindow;
};

QString Text(QWidget* parent, const char* name)
{
    auto* label = parent->findChild<QLabel*>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<no %1>").arg(QString::fromLatin1(name));
}

// ---- Status texts, each from its cause -----------------------------------------------------

TEST_F(TolvarenDiagnosticsTest, WithoutAnyPortTheIdleFaceWaitsForOne)
{
    TolvarenDiagnostics* window = Create();
    EXPECT_EQ(window->size(), QSize(458, 400));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Tolvaren Diagnostics v%1.%2")
                                         .arg(TOLVAREN_VERSION_MAJOR)
                                         .arg(TOLVAREN_VERSION_MINOR));
    EXPECT_EQ(window->Comms()->GetConfiguredCommPort(), 0);
    EXPECT_EQ(window->StatusText(), QStringLiteral("Waiting for an available serial port..."));
    EXPECT_EQ(window->CardWidget(), nullptr);
    // Polling goes on and keeps the text.
    SignalCounter status(window, &TolvarenDiagnostics::StatusTextChanged);
    ASSERT_TRUE(status.Wait(2));
    EXPECT_EQ(window->StatusText(), QStringLiteral("Waiting for an available serial port..."));
}

TEST_F(TolvarenDiagnosticsTest, AConfiguredPortThatIsAbsentIsWaitedForAndGroupsStayApart)
{
    {
        QSettings settings;
        settings.setValue(QStringLiteral("MainWindow/preferredPortNum"), 7);
    }
    TolvarenDiagnostics* main = Create(QStringLiteral("MainWindow"));
    TolvarenDiagnostics* output = Create(QStringLiteral("OutputWindow"));
    EXPECT_EQ(main->StatusText(), QStringLiteral("Waiting for COM7 to be available..."));
    EXPECT_EQ(output->StatusText(), QStringLiteral("Waiting for an available serial port..."));

    // Closing saves each window's port in its own group.
    output->Comms()->SetCommPort(9);
    main->close();
    output->close();
    QSettings settings;
    EXPECT_EQ(settings.value(QStringLiteral("MainWindow/preferredPortNum")).toInt(), 7);
    EXPECT_EQ(settings.value(QStringLiteral("OutputWindow/preferredPortNum")).toInt(), 9);
    // Without a card face neither window has a size or position to keep.
    EXPECT_FALSE(settings.contains(QStringLiteral("MainWindow/size")));
    EXPECT_FALSE(settings.contains(QStringLiteral("OutputWindow/pos")));
}

TEST_F(TolvarenDiagnosticsTest, TwoUsbAdaptersNeedAManualChoice)
{
    PtyPair first, second;
    m_sysfs.AddUsbAdapter("ttyUSB0", first.SlavePath(), "FT232R USB UART");
    m_sysfs.AddUsbAdapter("ttyUSB1", second.SlavePath(), "CP2102 USB to UART");
    TolvarenDiagnostics* window = Create();
    WaitForStatus(window, QStringLiteral("Many ports available - manual choice needed"));
}

TEST_F(TolvarenDiagnosticsTest, ACardThatDoesNotAnswerIsWaitedForAndASlowAdapterIsNamed)
{
    const struct
    {
        int latencyTimerMs;
        const char* toolTip;
    } cases[] = {
        {1, ""},
        {16, "USB latency timer 16 ms: replies are delayed, see README"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.latencyTimerMs);
        PtyPair port;
        m_sysfs.AddUsbAdapter("ttyUSB0", port.SlavePath(), "FT232R USB UART");
        m_sysfs.SetLatencyTimer("ttyUSB0", c.latencyTimerMs);
        // The master asks, nobody answers, the reply time-out ends the gathering.
        ByteVec request;
        std::thread device([&] { request = port.Read(8); });
        TolvarenDiagnostics* window = Create();
        WaitForStatus(window, QStringLiteral("Using COM200, waiting for card..."));
        device.join();
        EXPECT_EQ(request.size(), 8u);
        EXPECT_EQ(window->StatusToolTip(), QString::fromLatin1(c.toolTip));
        m_window.reset();
        m_sysfs.Remove("ttyUSB0");
    }
}

TEST_F(TolvarenDiagnosticsTest, AGeneralErrorShowsAnInvalidResponseWithTheErrorAsTooltip)
{
    PtyPair port;
    m_sysfs.AddUsbAdapter("ttyUSB0", port.SlavePath(), "FT232R USB UART");
    // The device on the port answers the first request as if it were node 2.
    std::thread device([&port] {
        const ByteVec request = port.Read(8);
        if (request.size() < 2)
            return;
        ByteVec reply{2, request[1], 2, 0, 1};
        AppendModbusCrc(reply);
        port.Write(reply);
    });
    TolvarenDiagnostics* window = Create();
    const bool seen = WaitForStatus(window, QStringLiteral("Invalid response from card"));
    device.join();
    ASSERT_TRUE(seen);
    EXPECT_EQ(window->StatusToolTip(), QStringLiteral("Last error: wrong node replied!"));
}

struct FirmwareCase
{
    std::uint16_t version;
    const char* text;
};

TEST_F(TolvarenDiagnosticsTest, FirmwareTooOldOrTooNewStopsOnTheIdleFaceAndKeepsPolling)
{
    const FirmwareCase cases[] = {
        {1, "Card firmware is too old"},
        {11, "Card firmware is too new - upgrade this PC application"},
    };
    for (const FirmwareCase& c : cases) {
        SCOPED_TRACE(c.version);
        auto card = boost::make_shared<FakeCard>(1, c.version);
        TolvarenDiagnostics* window = Create();
        window->Comms()->UseCommsInterface(card);
        ASSERT_TRUE(WaitForStatus(window, QString::fromLatin1(c.text)));
        EXPECT_TRUE(window->StatusToolTip().isEmpty());
        EXPECT_EQ(window->CardWidget(), nullptr);
        // A new card or firmware would be found: the card is asked again.
        card->ClearRequests();
        EXPECT_TRUE(RunUntil([&] { return card->RequestCount() > 0; }));
        m_window.reset();
    }
}

TEST_F(TolvarenDiagnosticsTest, ALongStatusTextIsReadableWholeOnTheIdleFace)
{
    auto card = boost::make_shared<FakeCard>(1, 11);
    TolvarenDiagnostics* window = Create();
    window->Comms()->UseCommsInterface(card);
    ASSERT_TRUE(WaitForStatus(
        window, QStringLiteral("Card firmware is too new - upgrade this PC application")));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);

    EXPECT_EQ(window->size(), QSize(458, 400));
    auto* label = window->findChild<QLabel*>(QStringLiteral("statusLabel"));
    ASSERT_NE(label, nullptr);
    const QRect inWindow(label->mapTo(window, QPoint(0, 0)), label->size());
    EXPECT_TRUE(window->rect().contains(inWindow))
        << inWindow.x() << "," << inWindow.y() << " " << inWindow.width() << "x"
        << inWindow.height();
    // What the label needs to draw its text as it draws it, against the room it has.
    const QRect room = label->contentsRect();
    const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    const QRect needed = label->fontMetrics().boundingRect(room, flags, label->text());
    EXPECT_LE(needed.width(), room.width());
    EXPECT_LE(needed.height(), room.height());
}

// ---- The card face -------------------------------------------------------------------------

TEST_F(TolvarenDiagnosticsTest, SimulateCardShowsTheSimulatedCardsFace)
{
    TolvarenDiagnostics* window = Create();
    SignalCounter created(window, &TolvarenDiagnostics::CardFaceCreated);
    SignalCounter refreshed(window, &TolvarenDiagnostics::CardFaceRefreshed);
    auto* button = window->findChild<QPushButton*>(QStringLiteral("simulateInputCardButton"));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), QStringLiteral("Simulate card"));
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(created.Wait());
    ASSERT_TRUE(refreshed.Wait());

    TolvarenCardWidget* card = window->CardWidget();
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(window->centralWidget(), card);
    EXPECT_EQ(Text(card, "titleLabel"), QStringLiteral("KTV-ROLM-73C6E - Serial Number 0"));

    const TolvarenSnapshot& snapshot = window->Gatherer()->Snapshot();
    ASSERT_EQ(snapshot.numInputs, 24u);
    ASSERT_EQ(snapshot.numOutputs, 24u);
    EXPECT_EQ(snapshot.inputLabels[0], "Input 1");
    const std::vector<IoPointWidget*>& rows = card->DetailsWidget()->PointRows();
    ASSERT_EQ(rows.size(), 48u);
    int inputs = 0, outputs = 0;
    for (IoPointWidget* row : rows) {
        const bool input = row->Direction() == Tolvaren::Input;
        (input ? inputs : outputs)++;
        const std::string& label = input ? snapshot.inputLabels.at(row->Index())
                                         : snapshot.outputLabels.at(row->Index());
        EXPECT_EQ(Text(row, "labelLabel").toStdString(), label);
    }
    EXPECT_EQ(inputs, 24);
    EXPECT_EQ(outputs, 24);

    // The first card face is 700 high and wide enough for its rows, as far as the screen
    // (800 x 600 here) allows.
    const QSize room = window->screen()->availableGeometry().size() -
                       (window->frameGeometry().size() - window->size());
    EXPECT_EQ(window->height(), std::min(700, room.height()));
    EXPECT_TRUE(window->width() >= room.width() ||
                card->CurrentScrollArea()->horizontalScrollBar()->maximum() == 0)
        << window->width();

    // The simulated card is not a port to remember; size and position are kept.
    window->close();
    QSettings settings;
    EXPECT_FALSE(settings.contains(QStringLiteral("MainWindow/preferredPortNum")));
    EXPECT_EQ(settings.value(QStringLiteral("MainWindow/size")).toSize(), window->size());
    EXPECT_EQ(settings.value(QStringLiteral("MainWindow/pos")).toPoint(), window->pos());
}

TEST_F(TolvarenDiagnosticsTest, ACardThatStopsAnsweringComesBackWithItsSizeAndScrollPosition)
{
    PluggedCard plugged(4, 9);
    TolvarenDiagnostics* window = Create();
    SignalCounter created(window, &TolvarenDiagnostics::CardFaceCreated);
    SignalCounter refreshed(window, &TolvarenDiagnostics::CardFaceRefreshed);
    window->Comms()->UseCommsInterface(plugged.card);
    ASSERT_TRUE(created.Wait());
    ASSERT_TRUE(refreshed.Wait());

    const QSize chosenSize(window->minimumSizeHint().width() + 40, 450);
    window->resize(chosenSize);
    window->move(30, 40);
    QScrollBar* scroll = window->CardWidget()->CurrentScrollArea()->verticalScrollBar();
    ASSERT_TRUE(RunUntil([&] { return scroll->maximum() > 300; }));
    scroll->setValue(300);
    const QPoint position = window->pos();

    plugged.card->SetDropAllReplies(true);
    ASSERT_TRUE(WaitForStatus(window, QStringLiteral("Using COM0, waiting for card...")));
    EXPECT_EQ(window->CardWidget(), nullptr);
    EXPECT_EQ(window->size(), QSize(458, 400));
    QSettings settings;
    EXPECT_EQ(settings.value(QStringLiteral("MainWindow/size")).toSize(), chosenSize);
    EXPECT_EQ(settings.value(QStringLiteral("MainWindow/pos")).toPoint(), position);

    plugged.card->SetDropAllReplies(false);
    ASSERT_TRUE(created.Wait());
    ASSERT_NE(window->CardWidget(), nullptr);
    EXPECT_EQ(window->size(), chosenSize);
    EXPECT_EQ(window->pos(), position);
    EXPECT_EQ(position, QPoint(30, 40));
    QScrollBar* newScroll = window->CardWidget()->CurrentScrollArea()->verticalScrollBar();
    EXPECT_NE(newScroll, scroll);
    EXPECT_TRUE(RunUntil([&] { return newScroll->value() == 300; }))
        << "vertical scroll position " << newScroll->value();
}

TEST_F(TolvarenDiagnosticsTest, NothingIsReadWhileTheWindowIsMinimized)
{
    PluggedCard plugged(2, 10);
    TolvarenDiagnostics* window = Create();
    SignalCounter created(window, &TolvarenDiagnostics::CardFaceCreated);
    SignalCounter refreshed(window, &TolvarenDiagnostics::CardFaceRefreshed);
    SignalCounter skipped(window, &TolvarenDiagnostics::PollSkippedWhileHidden);
    window->Comms()->UseCommsInterface(plugged.card);
    ASSERT_TRUE(created.Wait());
    ASSERT_TRUE(refreshed.Wait());

    window->showMinimized();
    // Polls never overlap: once one has been skipped, no gathering is running.
    ASSERT_TRUE(skipped.Wait());
    plugged.card->ClearRequests();
    ASSERT_TRUE(skipped.Wait(3));
    EXPECT_EQ(plugged.card->RequestCount(), 0u);

    window->showNormal();
    ASSERT_TRUE(refreshed.Wait());
    EXPECT_GT(plugged.card->RequestCount(), 0u);
}

TEST_F(TolvarenDiagnosticsTest, F5RereadsTheWholeCardIntoANewFace)
{
    PluggedCard plugged(1, 9);
    TolvarenDiagnostics* window = Create();
    SignalCounter created(window, &TolvarenDiagnostics::CardFaceCreated);
    SignalCounter refreshed(window, &TolvarenDiagnostics::CardFaceRefreshed);

    // On the idle face a refresh has nothing to do.
    QTest::keyClick(window, Qt::Key_F5);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    window->Comms()->UseCommsInterface(plugged.card);
    ASSERT_TRUE(created.Wait());
    ASSERT_TRUE(refreshed.Wait());
    QPointer<TolvarenCardWidget> first = window->CardWidget();

    plugged.card->ClearRequests();
    QTest::keyClick(window, Qt::Key_F5);
    QTest::keyClick(window, Qt::Key_F5);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(first->isEnabled());
    ASSERT_TRUE(created.Wait());
    EXPECT_TRUE(first.isNull());
    ASSERT_NE(window->CardWidget(), nullptr);
    EXPECT_TRUE(window->CardWidget()->isEnabled());
    // Two presses, one busy cursor, and it is gone again.
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    // A full read: the register-map version is asked again.
    bool versionRead = false;
    for (const FakeCardRequest& request : plugged.card->Requests())
        versionRead = versionRead || (request.functionCode == 4 && request.address == 65433);
    EXPECT_TRUE(versionRead);
}

// The style caches button pixmaps under keys that include the button's palette, and every face
// has palettes of its own: what was cached for a face is never used again once the face is gone.
// A card on a faulty line is shown afresh after every fault, so keeping those entries would make
// the program grow with each one. Whichever way the face is replaced, nothing cached for it stays.
TEST_F(TolvarenDiagnosticsTest, NothingTheStyleCachedForAFaceOutlivesIt)
{
    PluggedCard plugged(4, 10);
    TolvarenDiagnostics* window = Create();
    SignalCounter created(window, &TolvarenDiagnostics::CardFaceCreated);
    window->Comms()->UseCommsInterface(plugged.card);
    ASSERT_TRUE(created.Wait());

    const struct
    {
        const char* route;
        std::function<void()> replaceFace;
    } routes[] = {
        {"the card stops answering and comes back",
         [&] {
             plugged.card->SetDropAllReplies(true);
             ASSERT_TRUE(RunUntil([&] { return window->CardWidget() == nullptr; }));
             plugged.card->SetDropAllReplies(false);
         }},
        {"F5", [&] { QTest::keyClick(window, Qt::Key_F5); }},
    };
    const QString key = QStringLiteral("cached while the face was shown");
    for (const auto& r : routes) {
        SCOPED_TRACE(r.route);
        for (int round = 0; round < 3; ++round) {
            window->grab(); // the style paints the face's buttons and caches them
            QPixmap cached(8, 8);
            ASSERT_TRUE(QPixmapCache::insert(key, cached));
            r.replaceFace();
            ASSERT_TRUE(created.Wait());
            QPixmap found;
            EXPECT_FALSE(QPixmapCache::find(key, &found)) << "round " << round;
        }
    }
}

TEST_F(TolvarenDiagnosticsTest, ControlF12SimulatesACardFromTheIdleFace)
{
    TolvarenDiagnostics* window = Create();
    SignalCounter created(window, &TolvarenDiagnostics::CardFaceCreated);
    QTest::keyClick(window, Qt::Key_F12);
    QTest::keyClick(window, Qt::Key_F12, Qt::ShiftModifier | Qt::ControlModifier);
    EXPECT_FALSE(window->Comms()->HasSubstitute());
    QTest::keyClick(window, Qt::Key_F12, Qt::ControlModifier);
    EXPECT_TRUE(window->Comms()->HasSubstitute());
    ASSERT_TRUE(created.Wait());

    // With the card face shown it does nothing: the gatherer is kept.
    TolvarenSnapshotGatherer* gatherer = window->Gatherer();
    ASSERT_NE(gatherer, nullptr);
    QTest::keyClick(window, Qt::Key_F12, Qt::ControlModifier);
    EXPECT_EQ(window->Gatherer(), gatherer);
}

TEST_F(TolvarenDiagnosticsTest, TheCardFaceIsNotReplacedWhileItsModalDialogIsOpen)
{
    PluggedCard plugged(4, 9);
    TolvarenDiagnostics* window = Create();
    SignalCounter created(window, &TolvarenDiagnostics::CardFaceCreated);
    SignalCounter refreshed(window, &TolvarenDiagnostics::CardFaceRefreshed);
    window->Comms()->UseCommsInterface(plugged.card);
    ASSERT_TRUE(created.Wait());
    ASSERT_TRUE(refreshed.Wait());

    auto* app = qobject_cast<EventLoopTrackingApp*>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    QPointer<TolvarenCardWidget> face = window->CardWidget();
    bool resetWaited = false, faceKeptMeanwhile = false, dialogClosed = false;
    // An edit of the card face opens a dialog; meanwhile the card stops answering.
    QTimer::singleShot(0, face, [&] {
        QDialog dialog(face);
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, &dialog, [&] {
            if (app->DeferredCallCount() == 0)
                return;
            resetWaited = true;
            faceKeptMeanwhile = !face.isNull() && window->CardWidget() == face;
            dialog.accept();
        });
        watch.start(5);
        QTimer::singleShot(15000, &dialog, &QDialog::reject);
        plugged.card->SetDropAllReplies(true);
        dialog.exec();
        dialogClosed = true;
    });
    ASSERT_TRUE(RunUntil([&] { return dialogClosed; }, 20000));
    EXPECT_TRUE(resetWaited);
    EXPECT_TRUE(faceKeptMeanwhile);
    // Once the dialog's handler has returned, the window goes back to the idle face.
    EXPECT_TRUE(RunUntil([&] { return face.isNull(); }));
    EXPECT_EQ(window->CardWidget(), nullptr);
    EXPECT_EQ(window->StatusText(), QStringLiteral("Using COM0, waiting for card..."));
}

TEST_F(TolvarenDiagnosticsTest, ASavedPositionNearOrBeyondTheDesktopEdgeIsNotUsed)
{
    const QRect desktop = QApplication::desktop()->geometry();
    struct PositionCase
    {
        QPoint saved;
        bool used;
    };
    const PositionCase cases[] = {
        {QPoint(desktop.x() + 40, desktop.y() + 30), true},
        {QPoint(desktop.x() + desktop.width() - 5, desktop.y() + 30), false},
        {QPoint(desktop.x() - 20, desktop.y() + 30), false},
        {QPoint(desktop.x() + 40, desktop.y() + desktop.height() - 5), false},
    };
    for (const PositionCase& c : cases) {
        SCOPED_TRACE(c.saved.x());
        {
            QSettings settings;
            settings.setValue(QStringLiteral("MainWindow/pos"), c.saved);
            settings.setValue(QStringLiteral("MainWindow/size"), QSize(500, 300));
        }
        PluggedCard plugged(1, 9);
        TolvarenDiagnostics* window = Create();
        SignalCounter created(window, &TolvarenDiagnostics::CardFaceCreated);
        window->Comms()->UseCommsInterface(plugged.card);
        ASSERT_TRUE(created.Wait());
        EXPECT_EQ(window->height(), 300);
        // The card face may be wider than the small screen of the test platform, which then
        // keeps the window's x in view; y tells which placement was chosen.
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        const int centredY = qRound((screen.height() - window->height()) / 2.0);
        if (c.used) {
            EXPECT_NEAR(window->x(), c.saved.x(), 1); // the window's one-pixel nudge
            EXPECT_EQ(window->y(), c.saved.y());
        } else {
            EXPECT_EQ(window->y(), centredY);
        }
        m_window.reset();
    }
}

TEST_F(TolvarenDiagnosticsTest, TheSavedPositionDoesNotTakeTheWindowsNudge)
{
    const QPoint saved(30, 40);
    {
        QSettings settings;
        settings.setValue(QStringLiteral("MainWindow/pos"), saved);
        settings.setValue(QStringLiteral("MainWindow/size"), QSize(500, 300));
    }
    PluggedCard plugged(1, 9);
    TolvarenDiagnostics* window = Create();
    // Let the nudge of the window's first showing pass before the card face is placed.
    const QPoint shown = window->pos();
    ASSERT_TRUE(RunUntil([&] { return window->pos() != shown; }));
    SignalCounter created(window, &TolvarenDiagnostics::CardFaceCreated);
    window->Comms()->UseCommsInterface(plugged.card);
    ASSERT_TRUE(created.Wait());
    ASSERT_EQ(window->pos(), saved);

    // A card that answers within the first 100 ms is placed before the nudge.
    new DpiHackery(window);
    ASSERT_TRUE(RunUntil([&] { return window->pos() == saved + QPoint(1, 0); }));
    window->close();
    QSettings settings;
    EXPECT_EQ(settings.value(QStringLiteral("MainWindow/pos")).toPoint(), saved);

    // A position the user chose is kept as it is.
    m_window.reset();
    TolvarenDiagnostics* again = Create();
    SignalCounter createdAgain(again, &TolvarenDiagnostics::CardFaceCreated);
    again->Comms()->UseCommsInterface(plugged.card);
    ASSERT_TRUE(createdAgain.Wait());
    again->move(saved + QPoint(2, 0));
    again->close();
    EXPECT_EQ(settings.value(QStringLiteral("MainWindow/pos")).toPoint(), saved + QPoint(2, 0));
}

TEST_F(TolvarenDiagnosticsTest, ClosingDuringAGatheringWaitsForIt)
{
    PluggedCard plugged(4, 9);
    plugged.card->SetReplyDelay(20);
    TolvarenDiagnostics* window = Create();
    window->Comms()->UseCommsInterface(plugged.card);
    ASSERT_TRUE(RunUntil([&] { return plugged.card->RequestCount() >= 3; }));
    ASSERT_NE(window->Gatherer(), nullptr);
    window->close();
    m_window.reset();
    // Everything that read the card has gone with the window.
    const std::size_t requests = plugged.card->RequestCount();
    QCoreApplication::processEvents();
    EXPECT_EQ(plugged.card->RequestCount(), requests);
}

TEST_F(TolvarenDiagnosticsTest, ClosingWithAGraphOpenEndsItsPollingFirst)
{
    struct CountingCard : FullCardSimulator
    {
        int HandleRequest(unsigned char functionCode, const ByteVec& requestData,
                          ByteVec& replyData) override
        {
            if (functionCode == 100 && requestData.size() >= 3 &&
                requestData[2] == TolvarenCommsCommon::QEL_GET_LIVE_DATA)
                ++livePolls;
            ++requests;
            return FullCardSimulator::HandleRequest(functionCode, requestData, replyData);
        }
        std::atomic<int> livePolls{0};
        std::atomic<int> requests{0};
    };
    auto card = boost::make_shared<CountingCard>();
    TolvarenDiagnostics* window = Create();
    SignalCounter created(window, &TolvarenDiagnostics::CardFaceCreated);
    window->Comms()->UseCommsInterface(card);
    ASSERT_TRUE(created.Wait());
    IoPointWidget* row = window->CardWidget()->DetailsWidget()->PointRows().at(0);
    QMetaObject::invokeMethod(row, "ShowLiveGraph");
    GraphWindow* graph = window->findChild<GraphWindow*>(QStringLiteral("LiveGraph-0-0"));
    ASSERT_NE(graph, nullptr);
    ASSERT_TRUE(RunUntil([&] { return graph->isVisible() && card->livePolls >= 3; }));

    window->close();
    m_window.reset();
    const int requests = card->requests;
    QCoreApplication::processEvents();
    EXPECT_EQ(card->requests, requests);
}

// A device without I/O points is served by its traffic window alone, and closing that window
// closes the main window too.
TEST_F(TolvarenDiagnosticsTest, ADeviceWithoutPointsIsShownInItsTrafficWindowOnly)
{
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
    PluggedCard plugged(5, 10);
    TolvarenDiagnostics* window = Create();
    struct CloseWatch : QObject
    {
        int closes = 0;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Close)
                ++closes;
            return false;
        }
    } watch;
    window->installEventFilter(&watch);
    window->Comms()->UseCommsInterface(plugged.card);

    QPointer<CommsTrafficWindow> traffic;
    ASSERT_TRUE(RunUntil([&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* t = qobject_cast<CommsTrafficWindow*>(w))
                traffic = t;
        }
        return traffic && traffic->isVisible();
    }));
    EXPECT_EQ(traffic->Datalink(), window->Datalink());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->CardWidget(), nullptr);

    traffic->close();
    ASSERT_TRUE(RunUntil([&] { return traffic.isNull() && watch.closes > 0; }));
}

TEST_F(TolvarenDiagnosticsTest, ATrafficWindowKeepsToItsCardAndStopsWhenTheCardFaceGoes)
{
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
    PluggedCard plugged(4, 9);
    // This card's log holds one write of register 7 per read.
    plugged.card->SetVendorHandler(
        TolvarenCommsCommon::QEL_GET_TRAFFIC_LOG, [](const ByteVec&, ByteVec& payload) {
            payload = {2, 0x10, 0, 0, 0, 0, 8, 0x01, 0x06, 0x00, 0x07, 0x00, 0x2A, 0x00, 0x00};
            return 0;
        });
    TolvarenDiagnostics* window = Create();
    SignalCounter created(window, &TolvarenDiagnostics::CardFaceCreated);
    SignalCounter refreshed(window, &TolvarenDiagnostics::CardFaceRefreshed);
    window->Comms()->UseCommsInterface(plugged.card);
    ASSERT_TRUE(created.Wait());

    // Opened for this card, as the card face's "Modbus traffic" opens it.
    QPointer<CommsTrafficWindow> traffic = new CommsTrafficWindow(*window->Datalink(), nullptr);
    ASSERT_TRUE(RunUntil([&] { return traffic->Table()->rowCount() > 2; }));
    const QString logPath = traffic->LogFilePath();
    ASSERT_FALSE(logPath.isEmpty());

    // Unplugged: the card face goes, and the window says it has stopped.
    plugged.card->SetDropAllReplies(true);
    ASSERT_TRUE(WaitForStatus(window, QStringLiteral("Using COM0, waiting for card...")));
    EXPECT_FALSE(traffic->HasCard());
    EXPECT_EQ(traffic->Datalink(), nullptr);
    const int last = traffic->Table()->rowCount() - 1;
    EXPECT_TRUE(traffic->Table()
                    ->item(last, TrafficLogDecoder::DescColumn)
                    ->text()
                    .startsWith(QStringLiteral("The card this window was opened for has gone")));
    const auto read = [&] {
        QFile file(logPath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
    };
    const QByteArray logged = read();

    // The simulated card answers now; several polls later its log has reached no one.
    QTest::keyClick(window, Qt::Key_F12, Qt::ControlModifier);
    ASSERT_TRUE(created.Wait());
    ASSERT_TRUE(refreshed.Wait(3));
    EXPECT_EQ(read(), logged);
    EXPECT_TRUE(logged.contains("01 06 00 07 00 2a"));
    EXPECT_FALSE(logged.contains("01 04 00 00 00")) << "the simulated card's frame";
    EXPECT_EQ(traffic->Table()->rowCount(), last + 1);
    // The stopped window is still this window's: it goes with it.
    m_window.reset();
    EXPECT_TRUE(traffic.isNull());
    delete traffic.data();
}

} // namespace

