#include <limits>
#include <memory>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "cardui/IoPointWidget.h"
#include "tests/support/CardUiRig.h"
#include "tests/widgets/ModalScript.h"

namespace {

class IoPointWidgetTest : public ::testing::Test
{
protected:
    std::unique_ptr<IoPointWidget> Row(Tolvaren::IoDirection dir, unsigned index)
    {
        return std::make_unique<IoPointWidget>(rig.datalink, dir, index, nullptr);
    }

    static QString Text(QWidget* row, const char* name)
    {
        auto* label = row->findChild<QLabel*>(name);
        EXPECT_NE(label, nullptr) << name;
        return label ? label->text() : QString();
    }

    static bool Hidden(QWidget* row, const char* name)
    {
        auto* widget = row->findChild<QWidget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget ? widget->isHidden() : false;
    }

    static QColor Background(QWidget* widget)
    {
        return widget->palette().color(QPalette::Active, widget->backgroundRole());
    }

    CardUiRig rig;
};

TEST_F(IoPointWidgetTest, EvenRowsAreBlueOddRowsWhite)
{
    rig.Fill(4, 9, 2, 0);
    auto even = Row(Tolvaren::Input, 0);
    auto odd = Row(Tolvaren::Input, 1);
    EXPECT_TRUE(even->autoFillBackground());
    EXPECT_EQ(even->RowColour(), QColor("#ccccff"));
    EXPECT_EQ(Background(even.get()), QColor("#ccccff"));
    EXPECT_EQ(odd->RowColour(), QColor(Qt::white));
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        EXPECT_EQ(even->palette().color(group, even->backgroundRole()), QColor("#ccccff"));
}

TEST_F(IoPointWidgetTest, OddRowsArePaintedWhiteAndSoIsTheirEndedOverride)
{
    TolvarenSnapshot& s = rig.Fill(4, 9, 0, 2);
    auto odd = Row(Tolvaren::Output, 1);
    odd->resize(769, 200);
    odd->UpdateFromSnapshot(&rig.gatherer);
    ASSERT_NE(QApplication::palette().color(QPalette::Window), QColor(Qt::white))
        << "the window colour must differ from white for this test to mean anything";
    EXPECT_EQ(Background(odd.get()), QColor(Qt::white));
    // Inside the row's margin, what is painted is the row's own background.
    EXPECT_EQ(QColor(odd->grab().toImage().pixel(1, 1)), QColor(Qt::white));

    auto* state = odd->findChild<QLabel*>("overrideActiveLabel");
    s.overrideActive[1] = true;
    odd->UpdateFromSnapshot(&rig.gatherer);
    s.overrideActive[1] = false;
    odd->UpdateFromSnapshot(&rig.gatherer);
    EXPECT_EQ(state->text(), "Off");
    EXPECT_EQ(Background(state), Background(odd.get()));
}

TEST_F(IoPointWidgetTest, FirstUpdateFillsStaticItems)
{
    TolvarenSnapshot& s = rig.Fill(4, 9, 4, 2);
    s.inputLabels[3] = "Tank level \xC3\xA9"; // UTF-8 e-acute
    s.inputPartNumbers[3] = "PN-77";
    s.inputNotes[3] = "Checked in spring";
    s.inputDates[3] = Tolvaren::Date(5, 3, 2024);
    s.inputOffsets[3] = -0.5f;
    s.inputProfileIds[3] = 2; // Current 4-20mA <-> 0-100%, code C
    s.inputLowerLimits[3] = -20;
    s.inputUpperLimits[3] = 300;
    s.nodeAddress = 0x1205; // only the low byte is the node address

    auto row = Row(Tolvaren::Input, 3);
    row->UpdateFromSnapshot(&rig.gatherer);

    EXPECT_EQ(Text(row.get(), "ioPointNameLabel"), "Input\n4");
    EXPECT_EQ(Text(row.get(), "labelLabel"), QString::fromUtf8("Tank level \xC3\xA9"));
    EXPECT_EQ(Text(row.get(), "partNumLabel"), "PN-77");
    EXPECT_FALSE(Hidden(row.get(), "partNumberWidget"));
    EXPECT_EQ(Text(row.get(), "ioNotesLabel"), "Checked in spring");
    EXPECT_FALSE(Hidden(row.get(), "notesWidget"));
    EXPECT_EQ(Text(row.get(), "calibDateLabel"), "05 / 03 / 2024");
    EXPECT_EQ(row->CalibrationDate(), QDate(2024, 3, 5));
    EXPECT_EQ(Text(row.get(), "offsetLabel"), "-0.50 %");
    EXPECT_FALSE(Hidden(row.get(), "additionalOffsetWidget"));
    EXPECT_EQ(Text(row.get(), "scalingLabel"), "Current 4-20mA <-> 0-100%");
    EXPECT_EQ(Text(row.get(), "valueRefLabel"), "A5.B10103.C");
    EXPECT_EQ(row->findChild<QLabel*>("valueRefLabel")->toolTip(),
              "Object tester reference: KX.MRWT.G4.A5.B10103.C");
    EXPECT_EQ(Text(row.get(), "lowerLimitLabel"), "-20");
    EXPECT_EQ(Text(row.get(), "upperLimitLabel"), "300");
    EXPECT_EQ(Text(row.get(), "lowerLimitRefLabel"), "A5.D603.C");
    EXPECT_EQ(Text(row.get(), "upperLimitRefLabel"), "A5.D103.C");
    // Inputs have no override and no long-term statistics unless digital.
    EXPECT_TRUE(Hidden(row.get(), "overrideItemsWidget"));
    EXPECT_TRUE(Hidden(row.get(), "longTermStatsWidget"));
    EXPECT_EQ(row->findChild<QLabel*>("valueRefLabel")->palette().color(QPalette::WindowText),
              QColor(Qt::darkRed));

    // Static items are filled once: a later snapshot does not overwrite them.
    s.inputLabels[3] = "Changed";
    row->UpdateFromSnapshot(&rig.gatherer);
    EXPECT_EQ(Text(row.get(), "labelLabel"), QString::fromUtf8("Tank level \xC3\xA9"));
}

TEST_F(IoPointWidgetTest, OptionalItemsStayHiddenWhenEmpty)
{
    TolvarenSnapshot& s = rig.Fill(4, 9, 0, 1);
    s.outputOffsets[0] = std::numeric_limits<float>::quiet_NaN(); // counts as an offset
    auto row = Row(Tolvaren::Output, 0);
    row->UpdateFromSnapshot(&rig.gatherer);

    EXPECT_EQ(Text(row.get(), "ioPointNameLabel"), "Output\n1");
    EXPECT_TRUE(Hidden(row.get(), "partNumberWidget"));
    EXPECT_TRUE(Hidden(row.get(), "notesWidget"));
    EXPECT_TRUE(Hidden(row.get(), "calibrationDateWidget"));
    EXPECT_EQ(row->CalibrationDate(), QDate(2000, 1, 1)); // what an edit would offer
    EXPECT_FALSE(Hidden(row.get(), "additionalOffsetWidget"));
    EXPECT_FALSE(Hidden(row.get(), "overrideItemsWidget"));
    // An output of type 4 is moved by 50 in the limit map.
    EXPECT_EQ(Text(row.get(), "lowerLimitRefLabel"), "A5.D650.C");
    EXPECT_EQ(Text(row.get(), "upperLimitRefLabel"), "A5.D150.C");
}

TEST_F(IoPointWidgetTest, ShowAllItemsLinkRevealsWhatThePointSupports)
{
    rig.Fill(4, 10, 1, 1);
    auto input = Row(Tolvaren::Input, 0);
    auto output = Row(Tolvaren::Output, 0);
    input->UpdateFromSnapshot(&rig.gatherer);
    output->UpdateFromSnapshot(&rig.gatherer);

    for (IoPointWidget* row : {input.get(), output.get()}) {
        auto* link = row->findChild<QLabel*>("showAllItemsLink");
        ASSERT_FALSE(link->isHidden());
        emit link->linkActivated("more");
        EXPECT_TRUE(link->isHidden());
        EXPECT_FALSE(Hidden(row, "partNumberWidget"));
        EXPECT_FALSE(Hidden(row, "calibrationDateWidget"));
        EXPECT_FALSE(Hidden(row, "notesWidget"));
    }
    EXPECT_FALSE(Hidden(input.get(), "additionalOffsetWidget"));
    EXPECT_TRUE(Hidden(input.get(), "safeValueWidget"));
    EXPECT_FALSE(Hidden(output.get(), "safeValueWidget"));
    EXPECT_TRUE(Hidden(output.get(), "additionalOffsetWidget"));

    // Before version 6 there is nothing more to show.
    rig.Fill(4, 5, 1, 0);
    auto old = Row(Tolvaren::Input, 0);
    old->UpdateFromSnapshot(&rig.gatherer);
    EXPECT_TRUE(Hidden(old.get(), "showAllItemsLink"));
}

TEST_F(IoPointWidgetTest, DigitalValuesAndRawDisplay)
{
    TolvarenSnapshot& s = rig.Fill(4, 9, 1, 0);
    s.inputValues[0] = 1.0f;
    s.inputRawValues[0] = 513;
    auto row = Row(Tolvaren::Input, 0);
    row->UpdateFromSnapshot(&rig.gatherer);
    EXPECT_EQ(Text(row.get(), "valueLabel"), "1 (high)");
    EXPECT_EQ(Text(row.get(), "valueRefLabel"), "A5.A0.A");

    s.inputValues[0] = 0.999f;
    row->UpdateFromSnapshot(&rig.gatherer);
    EXPECT_EQ(Text(row.get(), "valueLabel"), "1.00 ");

    // Shift and R held anywhere in the application show the raw register value.
    QTest::keyPress(row.get(), Qt::Key_Shift, Qt::ShiftModifier);
    QTest::keyPress(row.get(), Qt::Key_R, Qt::ShiftModifier);
    row->UpdateFromSnapshot(&rig.gatherer);
    EXPECT_EQ(Text(row.get(), "valueLabel"), "513 raw");

    // R alone is not enough, nor is Shift alone.
    QTest::keyRelease(row.get(), Qt::Key_Shift, Qt::NoModifier);
    row->UpdateFromSnapshot(&rig.gatherer);
    EXPECT_EQ(Text(row.get(), "valueLabel"), "1.00 ");
    QTest::keyPress(row.get(), Qt::Key_Shift, Qt::ShiftModifier);
    QTest::keyRelease(row.get(), Qt::Key_R, Qt::ShiftModifier);
    row->UpdateFromSnapshot(&rig.gatherer);
    EXPECT_EQ(Text(row.get(), "valueLabel"), "1.00 ");
    QTest::keyRelease(row.get(), Qt::Key_Shift, Qt::NoModifier);
}

TEST_F(IoPointWidgetTest, OverrideStateFollowsTheCard)
{
    TolvarenSnapshot& s = rig.Fill(4, 9, 0, 2);
    s.outputProfileIds[0] = 0; // Voltage 0-10V <-> 0-100%
    s.overrideValues[0] = 42.5f;
    auto row = Row(Tolvaren::Output, 0); // even row: blue
    auto* state = row->findChild<QLabel*>("overrideActiveLabel");
    EXPECT_EQ(state->text(), "Off");
    EXPECT_TRUE(state->autoFillBackground());

    row->UpdateFromSnapshot(&rig.gatherer);
    EXPECT_EQ(Text(row.get(), "overrideValueLabel"), "42.50 %");
    EXPECT_EQ(state->text(), "Off");

    s.overrideActive[0] = true;
    row->UpdateFromSnapshot(&rig.gatherer);
    EXPECT_EQ(state->text(), "ACTIVE");
    EXPECT_EQ(Background(state), QColor("#99d9ea"));

    s.overrideActive[0] = false;
    row->UpdateFromSnapshot(&rig.gatherer);
    EXPECT_EQ(state->text(), "Off");
    EXPECT_EQ(Background(state), QColor("#ccccff"));
}

TEST_F(IoPointWidgetTest, GraphButtonByVersionAndFirmware)
{
    rig.Fill(4, 6, 1, 0);
    auto v6 = Row(Tolvaren::Input, 0);
    v6->UpdateFromSnapshot(&rig.gatherer);
    EXPECT_TRUE(Hidden(v6.get(), "graphButtonContainer"));

    TolvarenSnapshot& s = rig.Fill(4, 7, 1, 0);
    s.firmwareVersion = "1.234";
    auto v7 = Row(Tolvaren::Input, 0);
    v7->UpdateFromSnapshot(&rig.gatherer);
    EXPECT_FALSE(Hidden(v7.get(), "graphButtonContainer"));
    QMenu* menu = v7->findChild<QPushButton*>("graphButton")->menu();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[0]->text(), "Live data");
    EXPECT_TRUE(menu->actions()[0]->isEnabled());
    EXPECT_EQ(menu->actions()[1]->text(), "Last 8 days");
    EXPECT_FALSE(menu->actions()[1]->isEnabled());

    rig.Fill(4, 7, 1, 0).firmwareVersion = "1.235";
    auto other = Row(Tolvaren::Input, 0);
    other->UpdateFromSnapshot(&rig.gatherer);
    EXPECT_TRUE(other->findChild<QPushButton*>("graphButton")->menu()->actions()[1]->isEnabled());
}

TEST_F(IoPointWidgetTest, LimitsAndProfileCaptionByProfile)
{
    TolvarenSnapshot& s = rig.Fill(4, 9, 3, 0);
    s.inputProfileIds = {1, 0, 0xFFFF}; // lower-upper, 0-100%, digital
    auto withLimits = Row(Tolvaren::Input, 0);
    auto withoutLimits = Row(Tolvaren::Input, 1);
    withLimits->UpdateFromSnapshot(&rig.gatherer);
    withoutLimits->UpdateFromSnapshot(&rig.gatherer);
    EXPECT_FALSE(Hidden(withLimits.get(), "limitsWidget"));
    EXPECT_TRUE(Hidden(withoutLimits.get(), "limitsWidget"));
    EXPECT_FALSE(Hidden(withLimits.get(), "scalingLabel"));

    // A card whose inputs are all digital shows no profile caption on any input row.
    s.inputProfileIds = {0xFFFF, 0xFFFF, 0xFFFF};
    auto digital = Row(Tolvaren::Input, 2);
    digital->UpdateFromSnapshot(&rig.gatherer);
    EXPECT_TRUE(Hidden(digital.get(), "label_2"));
    EXPECT_TRUE(Hidden(digital.get(), "scalingLabel"));
}

TEST_F(IoPointWidgetTest, ProfileOutsideTheAllowedSetHasNoReference)
{
    TolvarenSnapshot& s = rig.Fill(4, 9, 0, 1);
    s.outputProfileIds[0] = 2; // current: outputs of type 4 accept voltage only
    s.outputValues[0] = 3.0f;
    auto row = Row(Tolvaren::Output, 0);
    row->UpdateFromSnapshot(&rig.gatherer);
    EXPECT_EQ(row->ProfileName(), "?");
    EXPECT_EQ(Text(row.get(), "scalingLabel"), "?");
    EXPECT_EQ(Text(row.get(), "valueRefLabel"), "");
    EXPECT_EQ(row->findChild<QLabel*>("valueRefLabel")->toolTip(), "");
    EXPECT_EQ(Text(row.get(), "valueLabel"), "3.00 ");
    EXPECT_EQ(row->AllowedProfiles().count(2), 0u);
    EXPECT_EQ(row->AllowedProfiles().count(0xFFFF), 1u);
}

TEST_F(IoPointWidgetTest, LongTermStatisticsOfDigitalInputs)
{
    TolvarenSnapshot& s = rig.Fill(1, 6, 2, 0);
    s.inputProfileIds[1] = 0;
    s.longTermLowTime = {3725, 1};
    s.longTermHighTime = {360000, 2};
    s.longTermPulseCount = {17, 3};
    auto digital = Row(Tolvaren::Input, 0);
    auto analogue = Row(Tolvaren::Input, 1);
    digital->UpdateFromSnapshot(&rig.gatherer);
    analogue->UpdateFromSnapshot(&rig.gatherer);
    EXPECT_FALSE(Hidden(digital.get(), "longTermStatsWidget"));
    EXPECT_TRUE(Hidden(analogue.get(), "longTermStatsWidget"));
    EXPECT_EQ(Text(digital.get(), "longTermLowTimeLabel"), "01 : 02 : 05");
    EXPECT_EQ(Text(digital.get(), "longTermHighTimeLabel"), "100 : 00 : 00");
    EXPECT_EQ(Text(digital.get(), "longTermPulseCountLabel"), "17");
}

TEST_F(IoPointWidgetTest, SafeValuesFromVersionTen)
{
    TolvarenSnapshot& s = rig.Fill(4, 10, 0, 3);
    s.outputProfileIds[0] = 0;
    s.profiledSafeValues = {12.5f, 0.0f}; // output 2 not reported
    auto set = Row(Tolvaren::Output, 0);
    auto zero = Row(Tolvaren::Output, 1);
    auto missing = Row(Tolvaren::Output, 2);
    for (IoPointWidget* row : {set.get(), zero.get(), missing.get()})
        row->UpdateFromSnapshot(&rig.gatherer);
    EXPECT_EQ(Text(set.get(), "safeValueLabel"), "12.50 %");
    EXPECT_FALSE(Hidden(set.get(), "safeValueWidget"));
    EXPECT_TRUE(Hidden(zero.get(), "safeValueWidget"));
    EXPECT_EQ(Text(missing.get(), "safeValueLabel"), "?");
    EXPECT_TRUE(Hidden(missing.get(), "safeValueWidget"));

    rig.Fill(4, 9, 0, 1).profiledSafeValues = {5.0f};
    auto v9 = Row(Tolvaren::Output, 0);
    v9->UpdateFromSnapshot(&rig.gatherer);
    EXPECT_TRUE(Hidden(v9.get(), "safeValueWidget"));
}

TEST_F(IoPointWidgetTest, WarningLinkExplainsTheLimits)
{
    rig.Fill(4, 9, 1, 0);
    auto row = Row(Tolvaren::Input, 0);
    QString shown;
    ModalScript script;
    script.Then([&](QWidget* box) {
        shown = static_cast<QMessageBox*>(box)->text();
        static_cast<QMessageBox*>(box)->accept();
    });
    script.Run([&] { emit row->findChild<QLabel*>("warningLabel")->linkActivated("info"); });
    EXPECT_EQ(shown, "Warning - Adjusting the Upper and Lower limits will change the values read "
                     "by the master controller.\r\n\r\nThe master controller may overwrite these "
                     "values back to the ones stored within it.");
    EXPECT_EQ(script.StepsLeft(), 0);
}

} // namespace
