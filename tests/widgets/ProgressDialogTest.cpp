#include <thread>

#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include "tests/widgets/ModalScript.h"
#include "widgets/ProgressDialog.h"

namespace {

QProgressBar* Bar(ProgressDialog& dialog)
{
    return dialog.findChild<QProgressBar*>("progressBar");
}

QPushButton* CancelButton(ProgressDialog& dialog)
{
    return dialog.findChild<QPushButton*>("cancelButton");
}

// setPercent only queues the update: deliver what is queued for the bar.
int BarValueAfterQueuedCalls(ProgressDialog& dialog)
{
    QCoreApplication::sendPostedEvents(Bar(dialog), QEvent::MetaCall);
    return Bar(dialog)->value();
}

} // namespace

TEST(ProgressDialogTest, SetPercentMovesTheBarInTenthsOfAPercent)
{
    ProgressDialog dialog(nullptr);
    const struct
    {
        float percent;
        int value;
    } cases[] = {{12.34f, 123}, {100.0f, 1000}, {0.0f, 0}, {0.7f, 7}, {99.99f, 999}, {50.0f, 500}};
    for (const auto& c : cases) {
        dialog.setPercent(c.percent);
        EXPECT_EQ(BarValueAfterQueuedCalls(dialog), c.value) << c.percent;
    }

    // Nonsense from a worker leaves the bar where it was.
    dialog.setPercent(std::numeric_limits<float>::quiet_NaN());
    dialog.setPercent(std::numeric_limits<float>::infinity());
    dialog.setPercent(1e30f);
    dialog.setPercent(-1e30f);
    EXPECT_EQ(BarValueAfterQueuedCalls(dialog), 500);
}

TEST(ProgressDialogTest, WorkerThreadProgressArrivesInTheGuiThread)
{
    ProgressDialog dialog(nullptr);
    QSignalSpy changed(Bar(dialog), &QProgressBar::valueChanged);
    std::thread worker([&dialog] {
        for (int i = 1; i <= 10; ++i)
            dialog.setPercent(i * 10.0f);
    });
    worker.join();
    EXPECT_EQ(changed.count(), 0); // nothing touched the bar from the worker
    while (changed.count() < 10 && changed.wait(10000)) {
    }
    ASSERT_EQ(changed.count(), 10);
    EXPECT_EQ(changed.first().at(0).toInt(), 100);
    EXPECT_EQ(Bar(dialog)->value(), 1000);
}

TEST(ProgressDialogTest, CancelCallsTheHandlerOnlyWhenOneIsSet)
{
    ProgressDialog dialog(nullptr);
    dialog.show();
    // No handler yet: enabled, and clicking does nothing.
    ASSERT_TRUE(CancelButton(dialog)->isEnabled());
    CancelButton(dialog)->click();
    EXPECT_TRUE(dialog.isVisible());

    int calls = 0;
    dialog.SetCancelHandler([&calls] { ++calls; });
    EXPECT_TRUE(CancelButton(dialog)->isEnabled());
    CancelButton(dialog)->click();
    EXPECT_EQ(calls, 1);

    dialog.SetCancelHandler(boost::function<void()>());
    EXPECT_FALSE(CancelButton(dialog)->isEnabled());
    CancelButton(dialog)->click();
    EXPECT_EQ(calls, 1);
}

TEST(ProgressDialogTest, HandlerThatRejectsEndsTheModalRun)
{
    ProgressDialog dialog(nullptr);
    bool stopped = false;
    dialog.SetCancelHandler([&] {
        stopped = true;
        dialog.reject();
    });
    ModalScript script;
    script.Then([&dialog](QWidget* modal) {
        EXPECT_EQ(modal, &dialog);
        CancelButton(dialog)->click();
    });
    EXPECT_EQ(script.Run([&] { return dialog.exec(); }), QDialog::Rejected);
    EXPECT_TRUE(stopped);
    EXPECT_EQ(script.StepsLeft(), 0);
}
