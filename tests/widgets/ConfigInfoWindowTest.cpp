#include <memory>
#include <string>

#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include <gtest/gtest.h>

#include "protocol/TolvarenCommsCommon.h"
#include "tests/protocol/FakeCardRig.h"
#include "tests/support/WaitUntil.h"
#include "widgets/ConfigInfoWindow.h"

namespace {

const int bound = 10000; // ms, for everything that should happen within a few refreshes
const std::uint16_t configText = TolvarenCommsCommon::QEL_GET_CONFIG_TEXT;

// A card whose configuration text the test changes while the window reads it.
struct CardWithText
{
    FakeCardRig rig{4, 9};
    std::shared_ptr<boost::mutex> mutex = std::make_shared<boost::mutex>();
    std::shared_ptr<std::string> text = std::make_shared<std::string>("DIP 1-4 off");

    CardWithText()
    {
        auto m = mutex;
        auto t = text;
        rig.card.SetVendorHandler(configText, [m, t](const ByteVec&, ByteVec& payload) {
            boost::lock_guard<boost::mutex> lock(*m);
            payload.assign(t->begin(), t->end());
            return 0;
        });
    }
    void SetText(const std::string& newText)
    {
        boost::lock_guard<boost::mutex> lock(*mutex);
        *text = newText;
    }
    std::size_t TextRequests() const { return rig.Vendor(configText).size(); }
};

QString Shown(QWidget* window)
{
    return window->findChild<QPlainTextEdit*>("dipswitchConfigWidget")->toPlainText();
}

int ThreadCount()
{
    return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
}

// Waits until count more requests than now have arrived: the one before the last of them has
// then been handled, since the window asks again only after handling a reply.
bool WaitForMoreRequests(const CardWithText& card, std::size_t count)
{
    const std::size_t target = card.TextRequests() + count;
    return QTest::qWaitFor([&] { return card.TextRequests() >= target; }, bound);
}

} // namespace

TEST(ConfigInfoWindowTest, ShowsTheCardsTextAndSetsItAgainOnlyWhenItChanges)
{
    CardWithText card;
    auto* window = new ConfigInfoWindow(card.rig.datalink, nullptr);
    QPointer<ConfigInfoWindow> alive(window);
    window->show();
    EXPECT_EQ(window->windowTitle(), "Card configuration");
    EXPECT_EQ(window->findChild<QGroupBox*>()->title(), "Dip-switch configuration");
    EXPECT_TRUE(window->findChild<QPlainTextEdit*>()->isReadOnly());
    EXPECT_TRUE(window->testAttribute(Qt::WA_DeleteOnClose));
    EXPECT_FALSE(window->testAttribute(Qt::WA_QuitOnClose));

    ASSERT_TRUE(QTest::qWaitFor([&] { return Shown(window) == "DIP 1-4 off"; }, bound));
    QSignalSpy changes(window->findChild<QPlainTextEdit*>(), &QPlainTextEdit::textChanged);
    ASSERT_TRUE(WaitForMoreRequests(card, 2));
    EXPECT_EQ(changes.count(), 0) << "an unchanged text is not set again";

    // Multi-line UTF-8 text, as the card sends it.
    card.SetText("Address 5\nTemperature \xC2\xB0");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Shown(window) == QString::fromUtf8("Address 5\nTemperature \xC2\xB0"); },
        bound));
    ASSERT_TRUE(WaitForMoreRequests(card, 2));
    EXPECT_EQ(changes.count(), 1);

    // About four times a second: four requests take at least three intervals (timers may fire
    // a little early).
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(WaitForMoreRequests(card, 4));
    EXPECT_GE(clock.elapsed(), 3 * ConfigInfoWindow::refreshIntervalMs * 8 / 10);

    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(alive.isNull());
}

TEST(ConfigInfoWindowTest, CardThatDoesNotAnswerOrRefusesIsShownAndAskedAgain)
{
    CardWithText card;
    card.rig.datalink.SetReplyTimeoutMs(50);
    card.rig.card.SetDropAllReplies(true);
    ConfigInfoWindow window(card.rig.datalink, nullptr);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Shown(&window) == "Waiting for card response..."; }, bound));
    ASSERT_TRUE(WaitForMoreRequests(card, 2));

    card.rig.card.SetDropAllReplies(false);
    card.rig.card.FailVendorCommand(configText, 1);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return Shown(&window) == "Failed to read card configuration - newer firmware required.";
        },
        bound));

    card.rig.card.ClearFailures();
    EXPECT_TRUE(QTest::qWaitFor([&] { return Shown(&window) == "DIP 1-4 off"; }, bound));
}

TEST(ConfigInfoWindowTest, LinkWithoutPortCountsAsCardNotAnswering)
{
    // A link that cannot send at all fails with an error of its own, not a Modbus one: the
    // window treats it like a silent card and keeps asking, until the card can be reached.
    FakeCardRig rig(4, 9);
    ModbusMasterDatalink datalink(nullptr);
    ConfigInfoWindow window(datalink, nullptr);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Shown(&window) == "Waiting for card response..."; }, bound));

    // A request without a port fails as it is queued, so none is outstanding here.
    datalink.SetCommsInterface(&rig.card);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return Shown(&window) == FakeCardProtocol::ConfigText(); }, bound));
    datalink.SetCommsInterface(nullptr);
}

TEST(ConfigInfoWindowTest, ClosingStopsAtOnceEvenWhileTheCardIsSlow)
{
    CardWithText card;
    // Warm-up: whatever Qt starts on first showing a window is not the window's.
    {
        ConfigInfoWindow first(card.rig.datalink, nullptr);
        first.show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return Shown(&first) == "DIP 1-4 off"; }, bound));
    }
    const int threadsBefore = ThreadCount();

    // Closed while replies come: no request follows.
    auto* window = new ConfigInfoWindow(card.rig.datalink, nullptr);
    QPointer<ConfigInfoWindow> alive(window);
    window->show();
    ASSERT_TRUE(WaitForMoreRequests(card, 2));
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(alive.isNull());
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == threadsBefore; }));
    card.rig.card.ClearRequests();
    // Nothing announces a request that does not come: watch for a few refresh intervals.
    QTest::qWait(3 * ConfigInfoWindow::refreshIntervalMs);
    EXPECT_EQ(card.rig.card.RequestCount(), 0u);

    // Closed while a request waits for a card that takes a minute to answer: the window goes
    // at once and leaves no thread waiting for the card.
    card.rig.datalink.SetReplyTimeoutMs(60000);
    card.rig.card.SetDropAllReplies(true);
    window = new ConfigInfoWindow(card.rig.datalink, nullptr);
    alive = window;
    window->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return card.rig.card.RequestCount() >= 1; }, bound));
    QElapsedTimer clock;
    clock.start();
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(alive.isNull());
    EXPECT_LT(clock.elapsed(), 500);
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == threadsBefore; }));
}
