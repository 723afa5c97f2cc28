#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "widgets/ClickableLabel.h"

TEST(ClickableLabelTest, LeftClickEmitsClickedOtherButtonsDoNot)
{
    ClickableLabel label(nullptr);
    label.setText("12.34 %");
    label.resize(100, 20);
    label.show();
    QSignalSpy clicked(&label, &ClickableLabel::Clicked);

    QTest::mouseClick(&label, Qt::RightButton);
    QTest::mouseClick(&label, Qt::MiddleButton);
    EXPECT_EQ(clicked.count(), 0);

    QTest::mouseClick(&label, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 1);
    QTest::mousePress(&label, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 2); // on the press, not the release
    QTest::mouseRelease(&label, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 2);

    EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);
}

TEST(ClickableLabelTest, PressDoesNotStartTextSelection)
{
    // A selectable label would otherwise swallow the press into a selection.
    ClickableLabel label(nullptr);
    label.setText("Pump 3 inlet");
    label.setTextInteractionFlags(Qt::TextSelectableByMouse);
    label.resize(200, 20);
    label.show();
    QSignalSpy clicked(&label, &ClickableLabel::Clicked);
    QTest::mousePress(&label, Qt::LeftButton, Qt::NoModifier, QPoint(2, 10));
    QTest::mouseMove(&label, QPoint(150, 10));
    QTest::mouseRelease(&label, Qt::LeftButton, Qt::NoModifier, QPoint(150, 10));
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_FALSE(label.hasSelectedText());
}

TEST(ClickableLabelTest, PointingHandOnlyWhileSomethingListens)
{
    ClickableLabel label(nullptr);
    EXPECT_FALSE(label.testAttribute(Qt::WA_SetCursor)) << "a label nobody listens to";
    EXPECT_NE(label.cursor().shape(), Qt::PointingHandCursor);

    QObject receiver;
    const auto first = QObject::connect(&label, &ClickableLabel::Clicked, &receiver, [] {});
    const auto second = QObject::connect(&label, &ClickableLabel::Clicked, &receiver, [] {});
    EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);

    // The cursor follows a disconnect from the event loop.
    auto settle = [&label] { QCoreApplication::sendPostedEvents(&label, QEvent::MetaCall); };
    QObject::disconnect(first);
    settle();
    EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor) << "one receiver is left";
    QObject::disconnect(second);
    settle();
    EXPECT_NE(label.cursor().shape(), Qt::PointingHandCursor);

    // Forms connect by name, and rows take an input's value out again by string signature.
    QObject::connect(&label, SIGNAL(Clicked()), &receiver, SLOT(deleteLater()));
    EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);
    QObject::disconnect(&label, SIGNAL(Clicked()), &receiver, nullptr);
    settle();
    EXPECT_NE(label.cursor().shape(), Qt::PointingHandCursor);
}
