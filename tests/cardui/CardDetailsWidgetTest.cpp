#include <memory>

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "cardui/CardDetailsWidget.h"
#include "cardui/IoPointWidget.h"
#include "protocol/TolvarenCommsCommon.h"
#include "tests/cardui/CardFaceTestHelpers.h"
#include "tests/cardui/CardUiDialogSteps.h"
#include "tests/protocol/FakeCardRig.h"
#include "tests/support/CardUiRig.h"
#include "tests/support/FutureWait.h"

using namespace CardUiDialogSteps;

// Stands in for the main window: counts the requests to rebuild the card face.
class RebuildCountingWindow : public QWidget
{
    Q_OBJECT

public:
    int rebuilds = 0;

public slots:
    void RefreshEverything() { ++rebuilds; }
};

namespace {

QColor Background(QWidget* widget)
{
    return widget->palette().color(QPalette::Active, widget->backgroundRole());
}

// A card face body on a fake card with protocol contents, after one full gathering.
struct DetailsOnFakeCard
{
    FakeCardRig rig;
    TolvarenSnapshotGatherer gatherer{rig.datalink};
    RebuildCountingWindow window;
    CardDetailsWidget* details = nullptr;

    DetailsOnFakeCard(int cardType, std::uint16_t version) : rig(cardType, version)
    {
        Gather(gatherer);
        details = new CardDetailsWidget(rig.datalink, cardType, &window);
        details->UpdateFromSnapshot(&gatherer);
        rig.card.ClearRequests();
    }

    void Click(const char* name)
    {
        auto* label = details->findChild<QLabel*>(name);
        ASSERT_NE(label, nullptr) << name;
        QTest::mouseClick(label, Qt::LeftButton);
    }

    std::size_t Writes(unsigned char function) const { return rig.Count(function); }
};

TEST(CardDetailsWidgetTest, InputCardHasOnlyTheInputBlock)
{
    DetailsOnFakeCard f(1, 9);
    const TolvarenSnapshot& s = f.gatherer.Snapshot();
    ASSERT_EQ(s.numInputs, 16u);
    ASSERT_EQ(s.numOutputs, 0u);

    EXPECT_EQ(f.details->CardType(), 1);
    EXPECT_EQ(f.details->findChild<QWidget*>("outputOptionsWidget"), nullptr);
    ASSERT_NE(f.details->findChild<QWidget*>("inputOptionsWidget"), nullptr);
    EXPECT_EQ(Text(f.details, "inputsTypeLabel"), "Analogue");
    ASSERT_EQ(f.details->PointRows().size(), 16u);
    for (unsigned i = 0; i < 16; ++i) {
        IoPointWidget* row = f.details->PointRows()[i];
        EXPECT_EQ(row->Direction(), Tolvaren::Input);
        EXPECT_EQ(row->Index(), i);
        EXPECT_EQ(row->parentWidget(), f.details->findChild<QWidget*>("itemsContainer"));
        EXPECT_EQ(Text(row, "labelLabel"), QString::fromStdString(s.inputLabels[i]));
    }

    // Later refreshes reuse the rows.
    Gather(f.gatherer);
    f.details->UpdateFromSnapshot(&f.gatherer);
    EXPECT_EQ(f.details->findChildren<IoPointWidget*>().size(), 16);
}

TEST(CardDetailsWidgetTest, OutputCardShowsItsWatchdogsAndOverrides)
{
    DetailsOnFakeCard f(2, 10);
    const TolvarenSnapshot& s = f.gatherer.Snapshot();
    ASSERT_GT(s.numOutputs, 0u);
    EXPECT_EQ(f.details->findChild<QWidget*>("inputOptionsWidget"), nullptr);
    ASSERT_NE(f.details->findChild<QWidget*>("outputOptionsWidget"), nullptr);
    EXPECT_EQ(f.details->PointRows().size(), s.numOutputs);
    EXPECT_EQ(f.details->PointRows().front()->Direction(), Tolvaren::Output);

    // The fake card: bus-off 30 s, outputs off 60 s, triggered, SoftDog 7.9 minutes, odd outputs
    // overridden.
    EXPECT_EQ(Text(f.details, "watchdogStateLabel"), "TRIGGERED");
    EXPECT_EQ(Text(f.details, "watchdogDelayUntilBusOff"), "30 seconds");
    EXPECT_EQ(Text(f.details, "watchdogDelayUntilRemainingOff"), "60 seconds");
    EXPECT_EQ(Text(f.details, "softdogDelayLabel"), "7 minutes");
    EXPECT_FALSE(f.details->findChild<QWidget*>("softDogDelayBlock")->isHidden());
    EXPECT_EQ(Text(f.details, "numOverridenLabel"), QString::number(s.numOutputs / 2));
    EXPECT_TRUE(f.details->findChild<QPushButton*>("clearAllOverridesButton")->isEnabled());
    EXPECT_EQ(Text(f.details, "outputsTypeLabel"), "Analogue");
}

TEST(CardDetailsWidgetTest, SoftDogNeedsVersionTen)
{
    for (std::uint16_t version : {9, 10}) {
        CardUiRig rig;
        rig.Fill(4, version, 2, 2);
        CardDetailsWidget details(rig.datalink, 4, nullptr);
        details.UpdateFromSnapshot(&rig.gatherer);
        EXPECT_EQ(details.findChild<QWidget*>("softDogDelayBlock")->isHidden(), version == 9)
            << version;
    }
}

TEST(CardDetailsWidgetTest, CommsDogStateAndOverrideCount)
{
    CardUiRig rig;
    TolvarenSnapshot& s = rig.Fill(4, 9, 2, 4);
    CardDetailsWidget details(rig.datalink, 4, nullptr);
    auto* state = details.findChild<QLabel*>("watchdogStateLabel");
    auto* clear = details.findChild<QPushButton*>("clearAllOverridesButton");
    EXPECT_EQ(state->text(), "Unknown");

    s.commsDogBusOffDelay = 0;
    s.commsDogTriggered = true;
    details.UpdateFromSnapshot(&rig.gatherer);
    EXPECT_EQ(state->text(), "Disabled");
    EXPECT_EQ(Background(state), QColor(Qt::white));
    EXPECT_EQ(Text(&details, "numOverridenLabel"), "0");
    EXPECT_FALSE(clear->isEnabled());
    EXPECT_EQ(Text(&details, "outputsTypeLabel"), "Digital");
    EXPECT_EQ(Text(&details, "inputsTypeLabel"), "Digital");

    s.commsDogBusOffDelay = 30;
    s.overrideActive = {true, false, true, true};
    details.UpdateFromSnapshot(&rig.gatherer);
    EXPECT_EQ(state->text(), "TRIGGERED");
    EXPECT_EQ(Background(state), QColor(Qt::red));
    EXPECT_EQ(Text(&details, "numOverridenLabel"), "3");
    EXPECT_TRUE(clear->isEnabled());

    s.commsDogTriggered = false;
    s.outputProfileIds[3] = 0;
    details.UpdateFromSnapshot(&rig.gatherer);
    EXPECT_EQ(state->text(), "Healthy");
    EXPECT_EQ(Background(state), QColor(Qt::white));
    EXPECT_EQ(Text(&details, "outputsTypeLabel"), "Analogue");
    EXPECT_EQ(Text(&details, "watchdogDelayUntilBusOff"), "30 seconds");
}

TEST(CardDetailsWidgetTest, DelayEditRefusesNumbersAboveARegister)
{
    DetailsOnFakeCard f(4, 10);
    QString offered, refusal;
    ModalScript script;
    script.Then(Enter("70000", &offered)).Then(Press(QMessageBox::Ok, &refusal));
    script.Run([&] { f.Click("watchdogDelayUntilBusOff"); });
    EXPECT_EQ(offered, "30"); // the first word of "30 seconds"
    EXPECT_EQ(refusal, "Invalid value.");
    EXPECT_EQ(f.Writes(6), 0u);
    EXPECT_EQ(script.StepsLeft(), 0);

    ModalScript accept;
    accept.Then(Enter("65535"));
    accept.Run([&] { f.Click("watchdogDelayUntilBusOff"); });
    EXPECT_EQ(accept.StepsLeft(), 0);
    EXPECT_TRUE(accept.Unexpected().isEmpty());
    EXPECT_EQ(f.Writes(6), 1u);
    EXPECT_EQ(f.rig.card.HoldingRegister(590).value_or(ByteVec()), ByteVec({0xFF, 0xFF}));

    ModalScript remaining;
    remaining.Then(Enter("0"));
    remaining.Run([&] { f.Click("watchdogDelayUntilRemainingOff"); });
    EXPECT_EQ(f.rig.card.HoldingRegister(591).value_or(ByteVec()), ByteVec({0x00, 0x00}));
}

TEST(CardDetailsWidgetTest, SoftDogEditWritesTheNamedVariable)
{
    DetailsOnFakeCard f(4, 10);
    QString offered;
    ModalScript script;
    script.Then(Enter("45", &offered));
    script.Run([&] { f.Click("softdogDelayLabel"); });
    EXPECT_EQ(offered, "7");
    EXPECT_FLOAT_EQ(f.rig.content.NamedVariable("OutputsToSafeMinutes").AsFloat(), 45.0f);

    // Cancel writes nothing.
    ModalScript cancel;
    cancel.Then(Cancel());
    cancel.Run([&] { f.Click("softdogDelayLabel"); });
    EXPECT_EQ(f.rig.content.NamedVariableWrites().size(), 1u);
}

TEST(CardDetailsWidgetTest, DelayWriteFailureIsReported)
{
    DetailsOnFakeCard f(4, 10);
    f.rig.card.FailFunction(6, 4);
    QString warning;
    ModalScript script;
    script.Then(Enter("12")).Then(Press(QMessageBox::Ok, &warning));
    script.Run([&] { f.Click("watchdogDelayUntilBusOff"); });
    EXPECT_TRUE(warning.startsWith("Failed to change delay: ")) << warning.toStdString();
    EXPECT_GT(warning.size(), QString("Failed to change delay: ").size());
    EXPECT_EQ(script.StepsLeft(), 0);
}

TEST(CardDetailsWidgetTest, ClearAllOverridesClearsEveryOutput)
{
    DetailsOnFakeCard f(4, 10);
    ModalScript none; // no question is asked
    none.Run([&] {
        QTest::mouseClick(f.details->findChild<QPushButton*>("clearAllOverridesButton"),
                          Qt::LeftButton);
    });
    EXPECT_TRUE(none.Unexpected().isEmpty());

    Gather(f.gatherer);
    f.details->UpdateFromSnapshot(&f.gatherer);
    const auto& active = f.gatherer.Snapshot().overrideActive;
    EXPECT_EQ(std::count(active.begin(), active.end(), true), 0);
    EXPECT_EQ(Text(f.details, "numOverridenLabel"), "0");
}

TEST(CardDetailsWidgetTest, ClearAllOverridesStopsAtTheFirstFailure)
{
    DetailsOnFakeCard f(4, 10);
    f.rig.card.FailFunction(5, 4);
    QString warning;
    ModalScript script;
    script.Then(Press(QMessageBox::Ok, &warning));
    script.Run([&] {
        QTest::mouseClick(f.details->findChild<QPushButton*>("clearAllOverridesButton"),
                          Qt::LeftButton);
    });
    EXPECT_TRUE(warning.startsWith("Failed to change overrides: ")) << warning.toStdString();
    EXPECT_EQ(f.Writes(5), 1u);
}

TEST(CardDetailsWidgetTest, OverallTypeToAnalogueAsksNothingAndRebuilds)
{
    DetailsOnFakeCard f(4, 9);
    const unsigned n = f.gatherer.Snapshot().numOutputs;
    ModalScript toDigital;
    toDigital.Then(Choose(1)).Then(Press(QMessageBox::Yes));
    toDigital.Run([&] { f.Click("outputsTypeLabel"); });
    EXPECT_EQ(toDigital.StepsLeft(), 0);
    EXPECT_EQ(f.window.rebuilds, 1);

    // A new face, as the main window would build it, shows the outputs digital.
    TolvarenSnapshotGatherer fresh(f.rig.datalink);
    Gather(fresh);
    for (unsigned i = 0; i < n; ++i)
        EXPECT_EQ(fresh.Snapshot().outputProfileIds[i], 0xFFFF) << i;
    CardDetailsWidget rebuilt(f.rig.datalink, 4, &f.window);
    rebuilt.UpdateFromSnapshot(&fresh);
    EXPECT_EQ(Text(&rebuilt, "outputsTypeLabel"), "Digital");

    ModalScript toAnalogue;
    toAnalogue.Then(Choose(0));
    toAnalogue.Run(
        [&] { QTest::mouseClick(rebuilt.findChild<QLabel*>("outputsTypeLabel"), Qt::LeftButton); });
    EXPECT_TRUE(toAnalogue.Unexpected().isEmpty()); // no question
    EXPECT_EQ(f.window.rebuilds, 2);
    TolvarenSnapshotGatherer after(f.rig.datalink);
    Gather(after);
    for (unsigned i = 0; i < n; ++i)
        EXPECT_EQ(after.Snapshot().outputProfileIds[i], 0) << i;
}

TEST(CardDetailsWidgetTest, OverallTypeCancelledChangesNothing)
{
    DetailsOnFakeCard f(4, 9);
    // "Are you sure?" answered No.
    ModalScript no;
    no.Then(Choose(1)).Then(Press(QMessageBox::No));
    no.Run([&] { f.Click("inputsTypeLabel"); });
    EXPECT_EQ(no.StepsLeft(), 0);
    // The same type as before.
    ModalScript same;
    same.Then(Choose(0));
    same.Run([&] { f.Click("inputsTypeLabel"); });
    EXPECT_TRUE(same.Unexpected().isEmpty());
    // Cancel.
    ModalScript cancel;
    cancel.Then(Cancel());
    cancel.Run([&] { f.Click("outputsTypeLabel"); });

    EXPECT_EQ(f.Writes(6), 0u);
    EXPECT_EQ(f.window.rebuilds, 0);
}

TEST(CardDetailsWidgetTest, OverallTypeFailureIsReportedAndStillRebuilds)
{
    DetailsOnFakeCard f(4, 9);
    f.rig.card.FailFunction(6, 4);
    QString warning;
    ModalScript script;
    script.Then(Choose(1)).Then(Press(QMessageBox::Yes)).Then(Press(QMessageBox::Ok, &warning));
    script.Run([&] { f.Click("outputsTypeLabel"); });
    EXPECT_TRUE(warning.startsWith("Failed to change output type for all outputs: "))
        << warning.toStdString();
    EXPECT_EQ(f.Writes(6), 1u);
    EXPECT_EQ(f.window.rebuilds, 1);
    EXPECT_FALSE(QApplication::overrideCursor()); // the wait cursor is gone
}

} // namespace

#include "CardDetailsWidgetTest.moc"
