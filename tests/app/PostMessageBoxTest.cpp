#include "app/PostMessageBox.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <thread>

namespace {

struct SeenBox
{
    QString text;
    QString title;
    QWidget* parent = nullptr;
    bool seen = false;
};

// Answers the first information box that comes up and records what it showed.
class BoxWatcher
{
public:
    BoxWatcher()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || m_box.seen)
                return;
            m_box.seen = true;
            m_box.text = box->text();
            m_box.title = box->windowTitle();
            m_box.parent = box->parentWidget();
            box->accept();
        });
        m_timer.start(10);
    }

    bool Wait(int timeoutMs = 5000)
    {
        QElapsedTimer elapsed;
        elapsed.start();
        while (!m_box.seen && elapsed.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return m_box.seen;
    }

    const SeenBox& Box() const { return m_box; }

private:
    QTimer m_timer;
    SeenBox m_box;
};

TEST(PostMessageBoxTest, BoxPostedFromAWorkerThreadShowsInTheGuiThread)
{
    BoxWatcher watcher;
    std::thread worker([] { PostMessageBox(QStringLiteral("Download finished")); });
    worker.join();
    // Nothing is shown until the event loop runs.
    EXPECT_FALSE(watcher.Box().seen);
    ASSERT_TRUE(watcher.Wait());
    EXPECT_EQ(watcher.Box().text, QStringLiteral("Download finished"));
    EXPECT_TRUE(watcher.Box().title.isEmpty());
    ASSERT_NE(PostMessageBoxImpl::Instance(), nullptr);
    EXPECT_EQ(PostMessageBoxImpl::Instance()->parent(), QCoreApplication::instance());
}

TEST(PostMessageBoxTest, BoxBelongsToTheOutermostActiveWindow)
{
    QWidget mainWindow;
    mainWindow.show();
    QDialog dialog(&mainWindow);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    ASSERT_EQ(QApplication::activeWindow(), &dialog);

    BoxWatcher watcher;
    PostMessageBox(QStringLiteral("one"));
    ASSERT_TRUE(watcher.Wait());
    EXPECT_EQ(watcher.Box().text, QStringLiteral("one"));
    EXPECT_EQ(watcher.Box().parent, &mainWindow);
}

} // namespace
