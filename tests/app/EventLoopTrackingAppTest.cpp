#include "app/EventLoopTrackingApp.h"

#include <stdexcept>
#include <string>
#include <vector>

#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include "app/DpiHackery.h"
#include "async/QtSlotCallPackage.h"

// A slot owner that logs its calls.
class SlotRecorder : public QObject
{
    Q_OBJECT

public:
    explicit SlotRecorder(std::vector<std::string>* log) : m_log(log) {}

public slots:
    void Record(QString what, int number)
    {
        m_log->push_back(what.toStdString() + " " + std::to_string(number));
    }

private:
    std::vector<std::string>* m_log;
};

namespace {

EventLoopTrackingApp* App()
{
    return qobject_cast<EventLoopTrackingApp*>(QCoreApplication::instance());
}

void Post(QObject* target, const QString& what, int number)
{
    EventLoopTrackingApp::PostSlotCall(QtSlotCallPackage(
        target, "Record", Q_ARG(QString, what), Q_ARG(int, number)));
}

// Runs the event loop until done() or the bound passes; false when it passed.
bool RunUntil(const std::function<bool()>& done, int boundMs = 10000)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(5);
    QTimer::singleShot(boundMs, &loop, &QEventLoop::quit);
    if (!done())
        loop.exec();
    return done();
}

// After the application has been told to quit, later event loops would return at once; a short
// run of the application's own loop clears that.
void ClearQuit()
{
    QTimer::singleShot(0, QCoreApplication::instance(), [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

TEST(EventLoopTrackingAppTest, PostsFromTheOutermostHandlerRunAtOnce)
{
    ASSERT_NE(App(), nullptr);
    std::vector<std::string> log;
    SlotRecorder recorder(&log);
    bool handled = false;
    QTimer::singleShot(0, [&] {
        EXPECT_EQ(App()->DispatchDepth(), 1);
        Post(&recorder, "timer", 1);
        log.push_back("after post");
        handled = true;
    });
    ASSERT_TRUE(RunUntil([&] { return handled; }));
    EXPECT_EQ(log, (std::vector<std::string>{"timer 1", "after post"}));
    EXPECT_EQ(App()->DeferredCallCount(), 0);
}

TEST(EventLoopTrackingAppTest, PostsInsideAModalDialogWaitForTheOpeningHandlerToReturn)
{
    std::vector<std::string> log;
    SlotRecorder recorder(&log);
    QPointer<SlotRecorder> doomed(new SlotRecorder(&log));
    bool handlerReturned = false;

    QTimer::singleShot(0, [&] {
        QDialog dialog;
        QTimer::singleShot(0, &dialog, [&] {
            EXPECT_GT(App()->DispatchDepth(), 1);
            Post(&recorder, "first", 1);
            Post(doomed, "doomed", 0);
            Post(&recorder, "second", 2);
            EXPECT_EQ(App()->DeferredCallCount(), 3);
            // A target that dies before the drain takes its calls with it.
            delete doomed;
            EXPECT_EQ(App()->DeferredCallCount(), 2);
            dialog.accept();
        });
        dialog.exec();
        log.push_back("dialog closed");
        QTimer::singleShot(0, [&] { handlerReturned = true; });
    });
    ASSERT_TRUE(RunUntil([&] { return handlerReturned; }));
    EXPECT_EQ(log, (std::vector<std::string>{"dialog closed", "first 1", "second 2"}));
    EXPECT_EQ(App()->DeferredCallCount(), 0);
}

TEST(EventLoopTrackingAppTest, ArgumentsArePassedAsCopies)
{
    std::vector<std::string> log;
    SlotRecorder recorder(&log);
    bool done = false;
    QTimer::singleShot(0, [&] {
        QDialog dialog;
        QTimer::singleShot(0, &dialog, [&] {
            {
                QString temporary = QStringLiteral("gone soon");
                Post(&recorder, temporary, 42);
                temporary = QStringLiteral("changed");
            }
            dialog.accept();
        });
        dialog.exec();
        QTimer::singleShot(0, [&] { done = true; });
    });
    ASSERT_TRUE(RunUntil([&] { return done; }));
    EXPECT_EQ(log, (std::vector<std::string>{"gone soon 42"}));
}

// Throws from its slot, as a failing event handler would.
class Thrower : public QObject
{
public:
    void Throw() { throw std::runtime_error("bus on fire"); }
};

void Click(QPushButton* button)
{
    const QPoint centre = button->rect().center();
    QMouseEvent press(QEvent::MouseButtonPress, centre, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, centre, Qt::LeftButton, Qt::LeftButton,
                        Qt::NoModifier);
    QApplication::sendEvent(button, &press);
    QApplication::sendEvent(button, &release);
}

// Counts the critical message boxes that are shown.
class CriticalBoxCounter : public QObject
{
public:
    int shown = 0;
    QString text, title;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* box = qobject_cast<QMessageBox*>(watched);
        if (box && event->type() == QEvent::Show && box->icon() == QMessageBox::Critical) {
            ++shown;
            text = box->text();
            title = box->windowTitle();
        }
        return false;
    }
};

TEST(EventLoopTrackingAppTest, AThrowingSlotGivesOneCriticalBoxThenTheLoopEnds)
{
    QWidget other;
    auto* button = new QPushButton(QStringLiteral("Elsewhere"), &other);
    other.show();
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });

    CriticalBoxCounter counter;
    App()->installEventFilter(&counter);
    Thrower thrower;
    bool handledBox = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        QMessageBox* box = App()->CriticalBox();
        if (!box || !box->isVisible() || handledBox)
            return;
        handledBox = true;
        EXPECT_EQ(box->parentWidget(), nullptr);
        // Clicks on other windows do nothing while the box is shown.
        Click(button);
        // Another error while the box is up adds no box of its own.
        QTimer::singleShot(0, &thrower, [&] { thrower.Throw(); });
        QTimer::singleShot(50, box, &QMessageBox::accept);
    });
    watcher.start(5);

    QTimer::singleShot(0, &thrower, [&] { thrower.Throw(); });
    QEventLoop loop;
    QTimer::singleShot(10000, &loop, [&] { loop.exit(99); });
    const int result = loop.exec();
    watcher.stop();
    App()->removeEventFilter(&counter);
    ClearQuit();

    EXPECT_NE(result, 99) << "the application did not quit after the box";
    EXPECT_TRUE(handledBox);
    EXPECT_EQ(counter.shown, 1);
    EXPECT_EQ(counter.text, QStringLiteral("Unexpected critical error: bus on fire"));
    EXPECT_TRUE(counter.title.isEmpty());
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(App()->CriticalBox(), nullptr);

    // Once the box has gone the other window works again.
    Click(button);
    EXPECT_EQ(clicks, 1);
}

TEST(EventLoopTrackingAppTest, EachTopLevelWindowIsNudgedOncePixelRightAfterItsFirstShow)
{
    QWidget window;
    QWidget child(&window);
    window.move(100, 120);
    window.show();
    ASSERT_EQ(window.findChildren<DpiHackery*>().size(), 1);
    EXPECT_TRUE(child.findChildren<DpiHackery*>().isEmpty());
    ASSERT_TRUE(RunUntil([&] { return window.pos() == QPoint(101, 120); }));

    window.hide();
    window.show();
    EXPECT_EQ(window.findChildren<DpiHackery*>().size(), 1);
}

} // namespace

#include "EventLoopTrackingAppTest.moc"
