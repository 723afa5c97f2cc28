#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDateEdit>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

#include "cardui/IoPointWidget.h"
#include "graphs/GraphWindow.h"
#include "protocol/TolvarenCommsCommon.h"
#include "protocol/TolvarenSnapshotGatherer.h"
#include "tests/cardui/CardUiDialogSteps.h"
#include "tests/protocol/FakeCardRig.h"
#include "tests/support/CardUiRig.h"
#include "widgets/ClickableLabel.h"

using namespace CardUiDialogSteps;
using Tolvaren::Input;
using Tolvaren::Output;

namespace {

// The fake card's points (card type 4, 24 inputs and 24 outputs, register-map version 10, so
// outputs sit 50 registers above inputs): point i is digital when i % 3 == 0, else profile i;
// an output's override is active when i is odd; output offsets are -0.5 * (i + 1).
const unsigned numInputs = 24;
const QString addressError = "node returned an error: illegal data address";

ByteVec Be16(std::uint16_t v)
{
    return ByteVec{static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
}

ByteVec Be32(std::uint32_t v)
{
    return Be16(static_cast<std::uint16_t>(v >> 16)) + Be16(static_cast<std::uint16_t>(v));
}

ByteVec BeFloat(float f)
{
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return Be32(bits);
}

ByteVec Padded(const std::string& text, std::size_t length)
{
    ByteVec bytes(text.begin(), text.end());
    bytes.resize(length, 0);
    return bytes;
}

// A box of this kind with an empty title and exactly this text, confirmed with OK.
ModalScript::Step ExpectBox(QMessageBox::Icon icon, const QString& text)
{
    return [icon, text](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr) << "expected \"" << text.toStdString() << "\", got "
                                << modal->metaObject()->className();
        EXPECT_EQ(box->icon(), icon);
        EXPECT_TRUE(box->windowTitle().isEmpty());
        EXPECT_EQ(box->text(), text);
        box->button(QMessageBox::Ok)->click();
    };
}

ModalScript::Step ExpectWarning(const QString& text)
{
    return ExpectBox(QMessageBox::Warning, text);
}

// Types a note into the multi-line dialog and confirms it; offered receives what it showed.
ModalScript::Step EnterNote(const QString& text, QString* offered = nullptr)
{
    return [text, offered](QWidget* modal) {
        auto* edit = modal->findChild<QPlainTextEdit*>();
        ASSERT_NE(edit, nullptr) << modal->metaObject()->className();
        if (offered)
            *offered = edit->toPlainText();
        edit->setPlainText(text);
        static_cast<QDialog*>(modal)->accept();
    };
}

ModalScript::Step EnterDate(const QDate& date)
{
    return [date](QWidget* modal) {
        auto* edit = modal->findChild<QDateEdit*>();
        ASSERT_NE(edit, nullptr);
        edit->setDate(date);
        static_cast<QDialog*>(modal)->accept();
    };
}

// Radio button texts of a choice dialog, the checked one marked with a star.
ModalScript::Step ExpectChoices(const QStringList& expected, int choose)
{
    return [expected, choose](QWidget* modal) {
        QStringList shown;
        for (QRadioButton* button : modal->findChildren<QRadioButton*>())
            shown << button->text() + (button->isChecked() ? "*" : "");
        EXPECT_EQ(shown, expected);
        Choose(choose)(modal);
    };
}

class IoPointEditFlowsTest : public ::testing::Test
{
public:
    // A row after its first update from a full gathering of the fake card.
    IoPointWidget* Row(Tolvaren::IoDirection dir, unsigned index)
    {
        if (!m_gathered) {
            rig.card.SetVendorHandler(TolvarenCommsCommon::QEL_GET_LIVE_DATA,
                                      [](const ByteVec&, ByteVec& payload) {
                                          payload = ByteVec{0}; // no samples
                                          return 0;
                                      });
            gatherer.RefreshSnapshot().get();
            m_gathered = true;
        }
        m_rows.push_back(std::make_unique<IoPointWidget>(rig.datalink, dir, index, nullptr));
        m_rows.back()->UpdateFromSnapshot(&gatherer);
        rig.card.ClearRequests();
        return m_rows.back().get();
    }

    // Clicks a value or button of the row and answers its dialogs with the steps.
    static void Click(IoPointWidget* row, const char* object,
                      const std::vector<ModalScript::Step>& steps = {})
    {
        ModalScript script;
        for (const ModalScript::Step& step : steps)
            script.Then(step);
        script.Run([&] {
            if (auto* label = row->findChild<ClickableLabel*>(object))
                emit label->Clicked();
            else if (auto* button = row->findChild<QAbstractButton*>(object))
                button->click();
            else
                ADD_FAILURE() << "no " << object;
        });
        EXPECT_EQ(script.StepsLeft(), 0) << object;
        EXPECT_TRUE(script.Unexpected().isEmpty())
            << object << ": unexpected " << script.Unexpected().join(", ").toStdString();
    }

    static QString Text(IoPointWidget* row, const char* object)
    {
        auto* label = row->findChild<QLabel*>(object);
        return label ? label->text() : QStringLiteral("<no %1>").arg(object);
    }

    ByteVec Holding(std::uint16_t address) const
    {
        return rig.card.HoldingRegister(address).value_or(ByteVec());
    }

    FakeCardRig rig{4, 10};
    TolvarenSnapshotGatherer gatherer{rig.datalink};

private:
    bool m_gathered = false;
    // Destroyed first: the rows use the datalink.
    std::vector<std::unique_ptr<IoPointWidget>> m_rows;
};

struct FlowCase
{
    const char* what;
    Tolvaren::IoDirection dir;
    unsigned index;
    const char* object;
    std::vector<ModalScript::Step> steps;
    const char* shownObject; // the label the flow fills, or null
    QString shown;
    std::function<void(IoPointEditFlowsTest&)> check;
};

TEST_F(IoPointEditFlowsTest, EachFlowWritesTheCardAndShowsWhatItHolds)
{
    const QString longLabel = "Feed pump 3, north bank, upstream filter A";      // 42 bytes
    const QString accentAtTheEnd = QString(39, QLatin1Char('a')) + QChar(0xE9);  // 41 bytes
    QString offeredOffset, offeredLimit;
    const FlowCase cases[] = {
        {"label read back as the card keeps it", Output, 1, "labelLabel", {Enter(longLabel)},
         "labelLabel", longLabel.left(40),
         [&](IoPointEditFlowsTest& t) {
             EXPECT_EQ(t.Holding(9251), Padded(longLabel.left(40).toStdString(), 40));
         }},
        {"label cut before a character that does not fit", Input, 3, "labelLabel",
         {Enter(accentAtTheEnd)}, "labelLabel", QString(39, QLatin1Char('a')),
         [](IoPointEditFlowsTest& t) {
             EXPECT_EQ(t.Holding(9203), Padded(std::string(39, 'a'), 40));
         }},
        {"part number", Input, 1, "partNumLabel", {Enter("PN-0123456789ABCDEF")},
         "partNumLabel", "PN-0123456789AB",
         [](IoPointEditFlowsTest& t) {
             EXPECT_EQ(t.Holding(9501), Padded("PN-0123456789AB", 16));
         }},
        {"offset", Input, 0, "offsetLabel", {Enter("-1.5", &offeredOffset)}, "offsetLabel",
         "-1.50 ", [&](IoPointEditFlowsTest& t) {
             EXPECT_EQ(offeredOffset, "0.25");
             EXPECT_EQ(t.Holding(9400), BeFloat(-1.5f));
         }},
        {"offset of 0 shows nothing", Output, 4, "offsetLabel", {Enter("0")}, "offsetLabel", "",
         [](IoPointEditFlowsTest& t) { EXPECT_EQ(t.Holding(9454), BeFloat(0.0f)); }},
        {"safe value", Output, 2, "safeValueLabel", {Enter("4.5")}, "safeValueLabel", "4.50 V",
         [](IoPointEditFlowsTest& t) {
             EXPECT_EQ(t.rig.content.NamedVariable("ProfiledSafeVal[2]").AsFloat(), 4.5f);
         }},
        {"lower limit at the bottom of the range", Output, 0, "lowerLimitLabel",
         {Enter("-32768", &offeredLimit)}, "lowerLimitLabel", "-32768",
         [&](IoPointEditFlowsTest& t) {
             EXPECT_EQ(offeredLimit, "-20");
             EXPECT_EQ(t.Holding(650), Be16(0x8000));
         }},
        {"upper limit at the top of the range", Output, 0, "upperLimitLabel", {Enter("32767")},
         "upperLimitLabel", "32767",
         [](IoPointEditFlowsTest& t) { EXPECT_EQ(t.Holding(150), Be16(0x7FFF)); }},
        {"calibration date", Input, 2, "calibDateLabel", {EnterDate(QDate(2024, 2, 29))},
         "calibDateLabel", "29 / 02 / 2024",
         [](IoPointEditFlowsTest& t) {
             EXPECT_EQ(t.Holding(65102), Tolvaren::Date(29, 2, 2024).ToByteVec());
         }},
        {"override value", Output, 2, "overrideValueLabel", {Enter("7.25")}, nullptr, "",
         [](IoPointEditFlowsTest& t) { EXPECT_EQ(t.Holding(9352), BeFloat(7.25f)); }},
        {"override ACTIVE turned off, no dialog", Output, 1, "overrideActiveLabel", {}, nullptr,
         "", [](IoPointEditFlowsTest& t) { EXPECT_FALSE(t.rig.card.Coil(9351).value_or(true)); }},
        {"override Off turned on, no dialog", Output, 0, "overrideActiveLabel", {}, nullptr, "",
         [](IoPointEditFlowsTest& t) { EXPECT_TRUE(t.rig.card.Coil(9350).value_or(false)); }},
        {"output value", Output, 2, "valueLabel", {Enter("12.5")}, nullptr, "",
         [](IoPointEditFlowsTest& t) { EXPECT_EQ(t.Holding(9002), BeFloat(12.5f)); }},
        {"long-term reset", Input, 0, "longTermResetButton", {Press(QMessageBox::Yes)}, nullptr,
         "",
         [](IoPointEditFlowsTest& t) {
             for (std::uint16_t address : {65200, 65250, 65300})
                 EXPECT_EQ(t.Holding(address), Be32(0)) << address;
         }},
        {"scaling profile, offset shown in the new unit", Output, 2, "scalingLabel",
         {ExpectChoices({"Voltage 0-10V <-> 0-100%", "Voltage in Volts*", "Digital"}, 0)},
         "offsetLabel", "-1.50 %",
         [](IoPointEditFlowsTest& t) {
             EXPECT_EQ(t.Holding(9152), Be16(0));
             EXPECT_EQ(t.rig.Vendor(TolvarenCommsCommon::QEL_GET_LIVE_DATA).size(), 1u);
         }},
        {"note", Output, 1, "ioNotesLabel", {EnterNote("Valve V-12\nchecked in May")},
         "ioNotesLabel", "Valve V-12\nchecked in May",
         [](IoPointEditFlowsTest& t) {
             EXPECT_EQ(t.rig.content.Note(numInputs + 1), "Valve V-12\nchecked in May");
         }},
    };
    for (const FlowCase& c : cases) {
        SCOPED_TRACE(c.what);
        IoPointWidget* row = Row(c.dir, c.index);
        const QString before = c.shownObject ? Text(row, c.shownObject) : QString();
        Click(row, c.object, c.steps);
        if (c.shownObject) {
            EXPECT_EQ(Text(row, c.shownObject), c.shown) << "was " << before.toStdString();
        }
        c.check(*this);
    }
}

TEST_F(IoPointEditFlowsTest, TheScalingFlowRedrawsTheRowInTheNewProfile)
{
    IoPointWidget* row = Row(Output, 2);
    EXPECT_EQ(Text(row, "scalingLabel"), "Voltage in Volts");
    Click(row, "scalingLabel", {Choose(2)}); // Digital
    EXPECT_EQ(row->ProfileId(), 0xFFFF);
    EXPECT_EQ(Text(row, "scalingLabel"), "Digital");
    EXPECT_EQ(Text(row, "valueRefLabel"), "A1.C2.A");
    EXPECT_EQ(Text(row, "offsetLabel"), "-1.50 ");

    // Cancel, or OK with nothing checked, changes nothing.
    rig.card.ClearRequests();
    Click(row, "scalingLabel", {Cancel()});
    EXPECT_EQ(rig.card.RequestCount(), 0u);
}

struct FailureCase
{
    const char* object;
    Tolvaren::IoDirection dir;
    unsigned index;
    std::function<void(FakeCard&)> fail;
    std::vector<ModalScript::Step> before; // the dialogs before the card is asked
    QString prefix;
    const char* keptObject; // a label that keeps its text
};

TEST_F(IoPointEditFlowsTest, EachFlowReportsTheCardsRefusalWithItsPrefix)
{
    const FailureCase cases[] = {
        {"labelLabel", Output, 1, [](FakeCard& c) { c.FailAddress(16, 9251, 2); }, {Enter("x")},
         "Failed to change label: ", "labelLabel"},
        {"partNumLabel", Input, 1, [](FakeCard& c) { c.FailAddress(16, 9501, 2); },
         {Enter("x")}, "Failed to change part-number: ", "partNumLabel"},
        {"offsetLabel", Input, 0, [](FakeCard& c) { c.FailAddress(16, 9400, 2); },
         {Enter("2")}, "Failed to change value: ", "offsetLabel"},
        {"safeValueLabel", Output, 2, [](FakeCard& c) { c.FailVendorCommand(20, 2); },
         {Enter("2")}, "Failed to change value: ", "safeValueLabel"},
        {"lowerLimitLabel", Output, 0, [](FakeCard& c) { c.FailAddress(6, 650, 2); },
         {Enter("2")}, "Failed to change limit: ", "lowerLimitLabel"},
        {"upperLimitLabel", Output, 0, [](FakeCard& c) { c.FailAddress(6, 150, 2); },
         {Enter("2")}, "Failed to change limit: ", "upperLimitLabel"},
        {"overrideValueLabel", Output, 2, [](FakeCard& c) { c.FailAddress(16, 9352, 2); },
         {Enter("2")}, "Failed to change override value: ", "overrideValueLabel"},
        {"overrideActiveLabel", Output, 0, [](FakeCard& c) { c.FailAddress(5, 9350, 2); }, {},
         "Failed to change override state: ", "overrideActiveLabel"},
        {"calibDateLabel", Input, 2, [](FakeCard& c) { c.FailAddress(16, 65102, 2); },
         {EnterDate(QDate(2024, 1, 1))}, "Failed to change calibration date: ",
         "calibDateLabel"},
        {"longTermResetButton", Input, 0, [](FakeCard& c) { c.FailAddress(16, 65250, 2); },
         {Press(QMessageBox::Yes)}, "Failed to reset stats: ", nullptr},
        {"valueLabel", Output, 2, [](FakeCard& c) { c.FailAddress(16, 9002, 2); },
         {Enter("2")}, "Failed to change value: ", "valueLabel"},
        {"scalingLabel", Output, 2, [](FakeCard& c) { c.FailAddress(6, 9152, 2); }, {Choose(0)},
         "Failed to change scaling: ", "scalingLabel"},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.object);
        IoPointWidget* row = Row(c.dir, c.index);
        const QString kept = c.keptObject ? Text(row, c.keptObject) : QString();
        c.fail(rig.card);
        std::vector<ModalScript::Step> steps = c.before;
        steps.push_back(ExpectWarning(c.prefix + addressError));
        Click(row, c.object, steps);
        rig.card.ClearFailures();
        if (c.keptObject) {
            EXPECT_EQ(Text(row, c.keptObject), kept);
        }
    }
}

TEST_F(IoPointEditFlowsTest, ACardThatDoesNotAnswerIsReportedToo)
{
    IoPointWidget* row = Row(Output, 0);
    rig.card.DropReplies(1);
    Click(row, "overrideActiveLabel",
          {ExpectWarning("Failed to change override state: No reply from node")});
    EXPECT_EQ(Text(row, "overrideActiveLabel"), "Off");
}

TEST_F(IoPointEditFlowsTest, ALimitOutsideSixteenBitsWritesNothing)
{
    IoPointWidget* row = Row(Output, 0);
    for (const char* object : {"lowerLimitLabel", "upperLimitLabel"}) {
        SCOPED_TRACE(object);
        Click(row, object,
              {Enter("40000"), ExpectBox(QMessageBox::Information,
                                         "Value must be in the range -32768 to 32767.")});
        EXPECT_EQ(rig.card.RequestCount(), 0u);
    }
    Click(row, "lowerLimitLabel",
          {Enter("-32769"),
           ExpectBox(QMessageBox::Information, "Value must be in the range -32768 to 32767.")});
    EXPECT_EQ(rig.card.RequestCount(), 0u);
    EXPECT_EQ(Text(row, "lowerLimitLabel"), "-20");
}

TEST_F(IoPointEditFlowsTest, ShiftOnConfirmingWritesTheRawOutputRegister)
{
    IoPointWidget* row = Row(Output, 2);
    struct
    {
        const char* typed;
        std::uint16_t raw;
    } const cases[] = {{"12.7", 12}, {"-1", 65535}, {"65537.9", 1}, {"-0.5", 0}, {"3e9", 24064}};
    QTest::keyPress(row, Qt::Key_Shift, Qt::ShiftModifier);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        rig.card.ClearRequests();
        Click(row, "valueLabel", {Enter(c.typed)});
        EXPECT_EQ(Holding(65402), Be16(c.raw));
        EXPECT_EQ(rig.Count(6, 65402), 1u);
        EXPECT_EQ(rig.Count(16), 0u) << "no scaled value written";
    }
    QTest::keyRelease(row, Qt::Key_Shift, Qt::NoModifier);
    Click(row, "valueLabel", {Enter("12.7")});
    EXPECT_EQ(Holding(9002), BeFloat(12.7f));
}

TEST_F(IoPointEditFlowsTest, ShiftEnterConfirmsARawWriteFromTheKeyboard)
{
    IoPointWidget* row = Row(Output, 2);
    Click(row, "valueLabel", {[](QWidget* modal) {
              auto* line = modal->findChild<QLineEdit*>();
              ASSERT_NE(line, nullptr);
              line->setText("12.7");
              QTest::keyClick(line, Qt::Key_Return, Qt::ShiftModifier);
              if (modal->isVisible()) {
                  ADD_FAILURE() << "Shift+Enter did not confirm";
                  static_cast<QDialog*>(modal)->reject();
              }
          }});
    // The click leaves Shift recorded as held: released for what follows.
    QTest::keyRelease(row, Qt::Key_Shift, Qt::NoModifier);
    EXPECT_EQ(Holding(65402), Be16(12));
    EXPECT_EQ(rig.Count(16), 0u) << "no scaled value written";
}

TEST_F(IoPointEditFlowsTest, ADigitalOutputIsSetLowOrHighByChoice)
{
    rig.card.SetHoldingRegister(9000, BeFloat(1.0f));
    IoPointWidget* row = Row(Output, 0);
    ASSERT_EQ(Text(row, "valueLabel"), "1 (high)");
    Click(row, "valueLabel", {ExpectChoices({"0 (low)", "1 (high)*"}, 0)});
    EXPECT_EQ(Holding(9000), BeFloat(0.0f));

    // The override value of the same point: 5.50 counts as high.
    Click(row, "overrideValueLabel", {ExpectChoices({"0 (low)", "1 (high)*"}, 1)});
    EXPECT_EQ(Holding(9350), BeFloat(1.0f));
}

TEST_F(IoPointEditFlowsTest, ANoteThatDoesNotFitIsOfferedAgainAndCancelShowsTheStoredOne)
{
    rig.content.SetNote(numInputs + 1, "Stored note");
    rig.content.SetNotesCapacity(20);
    IoPointWidget* row = Row(Output, 1);
    ASSERT_EQ(Text(row, "ioNotesLabel"), "Stored note");
    const QString typed = "A note far longer than the card has room for";
    QString offered, offeredAgain;
    Click(row, "ioNotesLabel",
          {EnterNote(typed, &offered),
           ExpectWarning("Not enough space to store note. You can shorten other notes to make "
                         "more space."),
           [&](QWidget* modal) {
               offeredAgain = modal->findChild<QPlainTextEdit*>()->toPlainText();
               Cancel()(modal);
           }});
    EXPECT_EQ(offered, "Stored note");
    EXPECT_EQ(offeredAgain, typed);
    EXPECT_EQ(Text(row, "ioNotesLabel"), "Stored note");
    EXPECT_EQ(rig.content.Note(numInputs + 1), "Stored note");
}

TEST_F(IoPointEditFlowsTest, ANoteTheCardRefusesPartWayLeavesTheOldNoteInPlace)
{
    // As the card does: each 128-byte piece is stored as it arrives, over the old note, and a
    // piece beyond the room left is refused. Write i may store limits[i] pieces (the last
    // limit holds for the rest).
    const unsigned noteIndex = numInputs + 1;
    std::vector<unsigned> limits;
    unsigned writes = 0, pieces = 0;
    std::string writing;
    rig.card.SetVendorHandler(TolvarenCommsCommon::QEL_WRITE_NOTE_START,
                              [&](const ByteVec&, ByteVec&) {
                                  ++writes;
                                  pieces = 0;
                                  writing.clear();
                                  return 0;
                              });
    rig.card.SetVendorHandler(
        TolvarenCommsCommon::QEL_WRITE_NOTE_NEXT, [&](const ByteVec& args, ByteVec&) {
            if (args.empty())
                return 0;
            if (++pieces > limits[std::min<std::size_t>(writes, limits.size()) - 1])
                return 3; // no room
            writing.append(args.begin(), args.end());
            rig.content.SetNote(noteIndex, writing);
            return 0;
        });
    const std::string old = "Pump P-7, seal replaced. " + std::string(175, '.'); // 2 pieces
    rig.content.SetNote(noteIndex, old);
    IoPointWidget* row = Row(Output, 1);
    const QString typed(600, QLatin1Char('n')); // 5 pieces
    const QString full = "Not enough space to store note. You can shorten other notes to make "
                         "more space.";

    limits = {4};
    Click(row, "ioNotesLabel", {EnterNote(typed), ExpectWarning(full), Cancel()});
    EXPECT_EQ(rig.content.Note(noteIndex), old);
    EXPECT_EQ(Text(row, "ioNotesLabel").toStdString(), old);

    // The old note does not fit back either: said so, and the row shows what the card kept.
    writes = 0;
    limits = {4, 1};
    Click(row, "ioNotesLabel",
          {EnterNote(typed),
           ExpectWarning(full + "\n\nThe previous note could not be put back: not enough room "
                                "for an IO note"),
           Cancel()});
    EXPECT_EQ(Text(row, "ioNotesLabel").toStdString(), old.substr(0, 128));
}

TEST_F(IoPointEditFlowsTest, TheNoteLoopCanAlwaysBeLeft)
{
    IoPointWidget* row = Row(Input, 4);
    const QString failed = "Failed to change note: " + addressError;

    // A card that refuses every note: each try is reported and Cancel still leaves.
    rig.card.FailVendorCommand(TolvarenCommsCommon::QEL_WRITE_NOTE_START, 2);
    Click(row, "ioNotesLabel",
          {EnterNote("one"), ExpectWarning(failed), EnterNote("two"), ExpectWarning(failed),
           Cancel()});
    EXPECT_EQ(rig.Vendor(TolvarenCommsCommon::QEL_WRITE_NOTE_START).size(), 2u);
    EXPECT_EQ(Text(row, "ioNotesLabel"), "");

    // A corrupt store ends the loop at once.
    rig.card.FailVendorCommand(TolvarenCommsCommon::QEL_WRITE_NOTE_START, 4);
    Click(row, "ioNotesLabel",
          {EnterNote("three"),
           ExpectWarning("The Note storage on the card has become corrupt. Some data may have "
                         "been lost.\r\n\r\nTo fix the corruption, save the card configuration "
                         "to a file and restore it (using the Options button in the "
                         "top-right).")});

    // A note that cannot be read back leaves the row's note empty.
    rig.card.ClearFailures();
    Click(row, "ioNotesLabel", {EnterNote("four")});
    EXPECT_EQ(Text(row, "ioNotesLabel"), "four");
    rig.card.FailVendorCommand(TolvarenCommsCommon::QEL_READ_NOTE_NEXT, 2);
    Click(row, "ioNotesLabel",
          {Cancel(), ExpectWarning("Failed to read note from card: " + addressError)});
    EXPECT_EQ(Text(row, "ioNotesLabel"), "");
}

TEST_F(IoPointEditFlowsTest, AnInputsValueOpensNoDialogAndDoesNotLookClickable)
{
    IoPointWidget* input = Row(Input, 1);
    IoPointWidget* output = Row(Output, 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall); // cursor updates
    Click(input, "valueLabel"); // no steps: any dialog would be unexpected
    EXPECT_EQ(rig.card.RequestCount(), 0u);

    auto hand = [](IoPointWidget* row, const char* object) {
        return row->findChild<QLabel*>(object)->cursor().shape() == Qt::PointingHandCursor;
    };
    EXPECT_FALSE(hand(input, "valueLabel"));
    EXPECT_TRUE(hand(output, "valueLabel"));
    EXPECT_TRUE(hand(input, "labelLabel"));
    for (const char* statistic :
         {"longTermLowTimeLabel", "longTermHighTimeLabel", "longTermPulseCountLabel"})
        EXPECT_FALSE(hand(input, statistic)) << statistic;
}

} // namespace

TEST_F(IoPointEditFlowsTest, GraphsAreRaisedByNameAndClosedByAScalingChange)
{
    IoPointWidget* row = Row(Output, 2);
    // A card with no samples at all: the windows open and stay empty.
    rig.card.SetVendorHandler(TolvarenCommsCommon::QEL_GET_HISTORICAL_DATA,
                              [](const ByteVec&, ByteVec& payload) {
                                  payload = ByteVec{0};
                                  return 0;
                              });
    for (const char* slot : {"ShowLiveGraph", "ShowLiveGraph", "ShowHistoricalGraph"})
        QMetaObject::invokeMethod(row, slot);
    EXPECT_EQ(row->findChildren<GraphWindow*>().size(), 2);
    EXPECT_NE(row->findChild<GraphWindow*>("LiveGraph-1-2"), nullptr);
    EXPECT_NE(row->findChild<GraphWindow*>("HistoricalGraph-1-2"), nullptr);

    Click(row, "scalingLabel", {Choose(2)});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(row->findChildren<GraphWindow*>().isEmpty());
}
