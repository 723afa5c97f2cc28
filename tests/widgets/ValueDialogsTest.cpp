#include <cstdint>
#include <string>
#include <vector>

#include <QButtonGroup>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include "tests/widgets/ModalScript.h"
#include "widgets/ValueFromUserDlg.h"

namespace {

ValueFromUserDlg* AsValueDialog(QWidget* modal)
{
    auto* dialog = qobject_cast<ValueFromUserDlg*>(modal);
    EXPECT_NE(dialog, nullptr) << "expected the value dialog, got "
                               << modal->metaObject()->className();
    return dialog;
}

void Press(QWidget* modal, QDialogButtonBox::StandardButton which)
{
    if (ValueFromUserDlg* dialog = AsValueDialog(modal))
        dialog->findChild<QDialogButtonBox*>("buttonBox")->button(which)->click();
    else if (auto* other = qobject_cast<QDialog*>(modal))
        other->reject();
}

// Types text into the dialog's line and confirms with OK.
ModalScript::Step Enter(const QString& text)
{
    return [text](QWidget* modal) {
        if (ValueFromUserDlg* dialog = AsValueDialog(modal))
            dialog->findChild<QLineEdit*>()->setText(text);
        Press(modal, QDialogButtonBox::Ok);
    };
}

ModalScript::Step PressOk()
{
    return [](QWidget* modal) { Press(modal, QDialogButtonBox::Ok); };
}

// Checks the line's text, then cancels.
ModalScript::Step ExpectLineThenCancel(const QString& expected)
{
    return [expected](QWidget* modal) {
        if (ValueFromUserDlg* dialog = AsValueDialog(modal)) {
            EXPECT_EQ(dialog->findChild<QLineEdit*>()->text(), expected);
        }
        Press(modal, QDialogButtonBox::Cancel);
    };
}

// Expects an information box with an empty title and exactly this text; confirms it.
ModalScript::Step ExpectInformation(const QString& text)
{
    return [text](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box) {
            ADD_FAILURE() << "expected an information box, got "
                          << modal->metaObject()->className();
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject();
            return;
        }
        EXPECT_EQ(box->icon(), QMessageBox::Information);
        EXPECT_TRUE(box->windowTitle().isEmpty());
        EXPECT_EQ(box->text(), text);
        box->button(QMessageBox::Ok)->click();
    };
}

void ExpectScriptDone(const ModalScript& script)
{
    EXPECT_EQ(script.StepsLeft(), 0);
    EXPECT_TRUE(script.Unexpected().isEmpty()) << script.Unexpected().join(", ").toStdString();
}

} // namespace

TEST(ValueFromUserDlgTest, FormCarriesPromptAndInputs)
{
    ValueFromUserDlg dialog("Enter new label:", nullptr);
    EXPECT_EQ(dialog.findChild<QLabel*>("promptLabel")->text(), "Enter new label:");

    auto* area = dialog.findChild<QScrollArea*>("scrollArea");
    auto* container = dialog.findChild<QWidget*>("inputContainer");
    ASSERT_TRUE(area && container);
    EXPECT_EQ(area->widget(), container);
    EXPECT_EQ(area->frameShape(), QFrame::NoFrame);

    auto* first = new QLineEdit;
    auto* second = new QLineEdit;
    dialog.AddInputWidget(first);
    dialog.AddInputWidget(second);
    auto* layout = qobject_cast<QVBoxLayout*>(container->layout());
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->indexOf(first), 0);
    EXPECT_EQ(layout->indexOf(second), 1);
    EXPECT_EQ(first->parentWidget(), container);
    EXPECT_EQ(dialog.focusWidget(), second);
}

TEST(ValueDialogsTest, TextDialogsReturnTheEditOnlyOnOk)
{
    QString text = "old label";
    ModalScript script;
    script.Then([](QWidget* modal) {
        if (ValueFromUserDlg* dialog = AsValueDialog(modal)) {
            EXPECT_EQ(dialog->findChild<QLineEdit*>()->text(), "old label");
        }
        Enter("Pump 3 \xC3\xBC")(modal);
    });
    EXPECT_TRUE(script.Run([&] { return GetTextFromUser("Enter new label:", text, nullptr); }));
    EXPECT_EQ(text, QString::fromUtf8("Pump 3 \xC3\xBC"));

    script.Then([](QWidget* modal) {
        if (ValueFromUserDlg* dialog = AsValueDialog(modal))
            dialog->findChild<QLineEdit*>()->setText("discarded");
        Press(modal, QDialogButtonBox::Cancel);
    });
    EXPECT_FALSE(script.Run([&] { return GetTextFromUser("Enter new label:", text, nullptr); }));
    EXPECT_EQ(text, QString::fromUtf8("Pump 3 \xC3\xBC"));

    QString note = "line one\nline two";
    script.Then([](QWidget* modal) {
        ValueFromUserDlg* dialog = AsValueDialog(modal);
        if (!dialog)
            return;
        auto* edit = dialog->findChild<QPlainTextEdit*>();
        EXPECT_EQ(edit->toPlainText(), "line one\nline two");
        EXPECT_GE(edit->minimumWidth(), 300);
        EXPECT_GE(edit->minimumHeight(), 200);
        edit->setPlainText("typed\nover");
        Press(modal, QDialogButtonBox::Cancel);
    });
    EXPECT_FALSE(
        script.Run([&] { return GetMultiLineTextFromUser("Update notes:", note, nullptr); }));
    EXPECT_EQ(note, "line one\nline two");

    script.Then([](QWidget* modal) {
        if (ValueFromUserDlg* dialog = AsValueDialog(modal))
            dialog->findChild<QPlainTextEdit*>()->setPlainText("new\nnote");
        Press(modal, QDialogButtonBox::Ok);
    });
    EXPECT_TRUE(
        script.Run([&] { return GetMultiLineTextFromUser("Update notes:", note, nullptr); }));
    EXPECT_EQ(note, "new\nnote");
    ExpectScriptDone(script);
}

TEST(ValueDialogsTest, FloatIsOfferedWithSixSignificantDigits)
{
    for (const auto& [value, shown] : std::vector<std::pair<float, QString>>{
             {0.1f, "0.1"}, {1234567.0f, "1.23457e+06"}, {-2.5f, "-2.5"}, {0.0f, "0"}}) {
        float v = value;
        ModalScript script;
        script.Then(ExpectLineThenCancel(shown));
        EXPECT_FALSE(script.Run([&] { return GetFloatFromUser("Enter new offset:", v, nullptr); }));
        EXPECT_EQ(v, value);
        ExpectScriptDone(script);
    }
}

namespace {

enum class Kind { Float, UInt, Int };

struct NumberCase
{
    Kind kind;
    QString typed;
    bool valid;
    double expected; // when valid
};

const QString floatRefusal = "You must enter a valid number.";
const QString uintRefusal = "You must enter a positive whole number.";
const QString intRefusal = "You must enter a whole number.";

const NumberCase numberCases[] = {
    {Kind::Float, "12.34", true, 12.34f},
    {Kind::Float, " -7.5e2 ", true, -750},
    {Kind::Float, "1.5e-3", true, 1.5e-3f},
    {Kind::Float, "abc", false, 0},
    {Kind::Float, "12,5", false, 0},
    {Kind::Float, "", false, 0},
    {Kind::Float, "nan", false, 0},
    {Kind::Float, "inf", false, 0},
    {Kind::Float, "1e39", false, 0},
    {Kind::UInt, "0", true, 0},
    {Kind::UInt, "4294967295", true, 4294967295.0},
    {Kind::UInt, "-5", false, 0},
    {Kind::UInt, "4294967296", false, 0},
    {Kind::UInt, "12.5", false, 0},
    {Kind::UInt, "0x10", false, 0},
    {Kind::UInt, "ten", false, 0},
    {Kind::Int, "-2147483648", true, -2147483648.0},
    {Kind::Int, "2147483647", true, 2147483647},
    {Kind::Int, "-5", true, -5},
    {Kind::Int, "2147483648", false, 0},
    {Kind::Int, "1.0", false, 0},
    {Kind::Int, "x1", false, 0},
};

// Runs the dialog of the case's kind starting from 3; the result and the value afterwards.
std::pair<bool, double> AskNumber(Kind kind)
{
    switch (kind) {
    case Kind::Float: {
        float v = 3;
        const bool ok = GetFloatFromUser("Enter new offset:", v, nullptr);
        return {ok, v};
    }
    case Kind::UInt: {
        unsigned v = 3;
        const bool ok = GetUIntFromUser("Enter delay:", v, nullptr);
        return {ok, v};
    }
    case Kind::Int:
    default: {
        int v = 3;
        const bool ok = GetIntFromUser("Enter new lower limit:", v, nullptr);
        return {ok, v};
    }
    }
}

const QString& RefusalOf(Kind kind)
{
    return kind == Kind::Float ? floatRefusal : kind == Kind::UInt ? uintRefusal : intRefusal;
}

} // namespace

TEST(ValueDialogsTest, NumbersAreAcceptedOrRefusedAndAskedAgain)
{
    for (const NumberCase& c : numberCases) {
        SCOPED_TRACE(c.typed.toStdString());
        ModalScript script;
        script.Then(Enter(c.typed));
        if (!c.valid) {
            // Refused: the box, then the same dialog still holding what was typed.
            script.Then(ExpectInformation(RefusalOf(c.kind)));
            script.Then(ExpectLineThenCancel(c.typed));
        }
        const auto [ok, value] = script.Run([&] { return AskNumber(c.kind); });
        EXPECT_EQ(ok, c.valid);
        EXPECT_EQ(value, c.valid ? c.expected : 3.0);
        ExpectScriptDone(script);
    }
}

TEST(ValueDialogsTest, NumberDialogKeepsAskingUntilAValidNumber)
{
    int value = 0;
    ModalScript script;
    script.Then(Enter("twelve"))
        .Then(ExpectInformation(intRefusal))
        .Then(Enter("12 3"))
        .Then(ExpectInformation(intRefusal))
        .Then(Enter("123"));
    EXPECT_TRUE(
        script.Run([&] { return GetIntFromUser("Enter new upper limit:", value, nullptr); }));
    EXPECT_EQ(value, 123);
    ExpectScriptDone(script);
}

TEST(ValueDialogsTest, CancelReturnsNoValue)
{
    unsigned u = 17;
    int i = -4;
    float f = 2.5f;
    ModalScript script;
    script.Then(ExpectLineThenCancel("17")).Then(ExpectLineThenCancel("-4"));
    script.Then([](QWidget* modal) {
        // Closing the window is a cancel too.
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
    });
    EXPECT_FALSE(script.Run([&] { return GetUIntFromUser("Enter delay:", u, nullptr); }));
    EXPECT_FALSE(script.Run([&] { return GetIntFromUser("Enter limit:", i, nullptr); }));
    EXPECT_FALSE(script.Run([&] { return GetFloatFromUser("Enter value:", f, nullptr); }));
    EXPECT_EQ(u, 17u);
    EXPECT_EQ(i, -4);
    EXPECT_EQ(f, 2.5f);
    ExpectScriptDone(script);
}

TEST(ValueDialogsTest, RegisterSizedNumbersRefuseWhatDoesNotFit)
{
    struct Case
    {
        bool isSigned;
        QString typed;
        bool accepted;
    };
    const Case cases[] = {
        {false, "70000", false}, {false, "65536", false}, {false, "65535", true},
        {false, "0", true},      {true, "40000", false},  {true, "-32769", false},
        {true, "-32768", true},  {true, "32767", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        ModalScript script;
        script.Then(Enter(c.typed));
        if (!c.accepted)
            script.Then(ExpectInformation(c.isSigned ? "Value must be in the range -32768 to 32767."
                                                     : "Invalid value."));
        if (c.isSigned) {
            int value = 9;
            const bool ok = script.Run(
                [&] { return GetInt16FromUser("Enter new lower limit:", value, nullptr); });
            EXPECT_EQ(ok, c.accepted);
            EXPECT_EQ(value, c.accepted ? c.typed.toInt() : 9);
        } else {
            unsigned value = 9;
            const bool ok = script.Run([&] {
                return GetUInt16FromUser("Enter delay until bus-off (0 to disable):", value,
                                         nullptr);
            });
            EXPECT_EQ(ok, c.accepted);
            EXPECT_EQ(value, c.accepted ? c.typed.toUInt() : 9u);
        }
        ExpectScriptDone(script);
    }
}

namespace {

QList<QRadioButton*> Choices(ValueFromUserDlg* dialog)
{
    return dialog->findChildren<QRadioButton*>();
}

ModalScript::Step Choose(int which)
{
    return [which](QWidget* modal) {
        if (ValueFromUserDlg* dialog = AsValueDialog(modal))
            Choices(dialog).at(which)->click();
        Press(modal, QDialogButtonBox::Ok);
    };
}

} // namespace

TEST(ValueDialogsTest, ChoiceOffersTheCurrentOneAndReturnsTheCheckedOne)
{
    const std::vector<std::string> choices{"0 (low)", "1 (high)", "Digital \xC2\xB0"};
    unsigned index = 1;
    ModalScript script;
    script.Then([](QWidget* modal) {
        ValueFromUserDlg* dialog = AsValueDialog(modal);
        if (!dialog)
            return;
        const QList<QRadioButton*> buttons = Choices(dialog);
        ASSERT_EQ(buttons.size(), 3);
        EXPECT_EQ(buttons[0]->text(), "0 (low)");
        EXPECT_EQ(buttons[2]->text(), QString::fromUtf8("Digital \xC2\xB0"));
        EXPECT_FALSE(buttons[0]->isChecked());
        EXPECT_TRUE(buttons[1]->isChecked());
        EXPECT_EQ(dialog->findChild<QScrollArea*>("scrollArea")->frameShape(), QFrame::StyledPanel);
        buttons[2]->click();
        EXPECT_FALSE(buttons[1]->isChecked()); // one exclusive group
        Press(modal, QDialogButtonBox::Ok);
    });
    EXPECT_TRUE(script.Run([&] { return GetChoiceFromUser("Choose:", choices, index, nullptr); }));
    EXPECT_EQ(index, 2u);

    script.Then(Choose(0));
    EXPECT_TRUE(script.Run([&] { return GetChoiceFromUser("Choose:", choices, index, nullptr); }));
    EXPECT_EQ(index, 0u);

    // Cancel after picking another one keeps the old index.
    script.Then([](QWidget* modal) {
        if (ValueFromUserDlg* dialog = AsValueDialog(modal))
            Choices(dialog).at(1)->click();
        Press(modal, QDialogButtonBox::Cancel);
    });
    EXPECT_FALSE(script.Run([&] { return GetChoiceFromUser("Choose:", choices, index, nullptr); }));
    EXPECT_EQ(index, 0u);
    ExpectScriptDone(script);
}

TEST(ValueDialogsTest, ChoiceBeyondTheListChecksNothingAndOkAloneIsNoAnswer)
{
    const std::vector<std::string> choices{"Analogue (using a scaling profile)", "Digital"};
    unsigned index = 7;
    ModalScript script;
    script.Then([](QWidget* modal) {
        if (ValueFromUserDlg* dialog = AsValueDialog(modal)) {
            for (QRadioButton* button : Choices(dialog)) {
                EXPECT_FALSE(button->isChecked());
            }
        }
        Press(modal, QDialogButtonBox::Ok);
    });
    EXPECT_FALSE(script.Run([&] { return GetChoiceFromUser("Choose:", choices, index, nullptr); }));
    EXPECT_EQ(index, 7u);

    // An empty list cannot be answered either.
    unsigned none = 0;
    script.Then(PressOk());
    EXPECT_FALSE(script.Run([&] { return GetChoiceFromUser("Choose:", {}, none, nullptr); }));
    ExpectScriptDone(script);
}

TEST(ValueDialogsTest, LongChoiceListFitsTheLimitsAndShowsTheCheckedChoice)
{
    std::vector<std::string> choices;
    for (int i = 0; i < 40; ++i)
        choices.push_back("Scaling profile number " + std::to_string(i));
    unsigned index = 37;
    ModalScript script;
    script.Then([](QWidget* modal) {
        ValueFromUserDlg* dialog = AsValueDialog(modal);
        if (!dialog)
            return;
        // Let the resize queued at showing run, then look.
        QCoreApplication::sendPostedEvents(dialog, QEvent::MetaCall);
        EXPECT_LE(dialog->width(), 600);
        EXPECT_LE(dialog->height(), 500);
        EXPECT_GT(dialog->height(), 165); // it did grow towards the list

        auto* area = dialog->findChild<QScrollArea*>("scrollArea");
        QRadioButton* checked = Choices(dialog).at(37);
        ASSERT_TRUE(checked->isChecked());
        const QRect inViewport(checked->mapTo(area->viewport(), QPoint(0, 0)), checked->size());
        EXPECT_TRUE(area->viewport()->rect().contains(inViewport))
            << inViewport.y() << " in viewport of height " << area->viewport()->height();
        Press(modal, QDialogButtonBox::Cancel);
    });
    EXPECT_FALSE(script.Run([&] { return GetChoiceFromUser("Choose:", choices, index, nullptr); }));
    ExpectScriptDone(script);
}

TEST(ValueDialogsTest, ShortInputGrowsTheDialogSymmetricallyOnce)
{
    ValueFromUserDlg dialog("Enter new label:", nullptr);
    dialog.AddInputWidget(new QLineEdit("x"));
    dialog.show();
    const QRect before = dialog.geometry();
    QCoreApplication::sendPostedEvents(&dialog, QEvent::MetaCall); // the queued AdjustSize
    const QRect after = dialog.geometry();
    // The input already fits: only the fixed 24 pixels of width, split over both sides.
    EXPECT_EQ(after.width(), before.width() + 24);
    EXPECT_EQ(after.left(), before.left() - 12);
    EXPECT_EQ(after.height(), before.height());
    EXPECT_EQ(after.center().y(), before.center().y());

    // Shown again: the same size, not another 24 pixels.
    dialog.hide();
    dialog.show();
    QCoreApplication::sendPostedEvents(&dialog, QEvent::MetaCall);
    EXPECT_EQ(dialog.size(), after.size());
    dialog.AdjustSize();
    EXPECT_EQ(dialog.geometry(), after);
}

TEST(ValueDialogsTest, ARefusedNumberReopensTheDialogAtTheSameSize)
{
    QList<QSize> shown;
    auto record = [&shown](QWidget* modal) {
        QCoreApplication::sendPostedEvents(modal, QEvent::MetaCall); // the queued AdjustSize
        shown << modal->size();
    };
    ModalScript script;
    for (int round = 0; round < 3; ++round) {
        script.Then([&, record](QWidget* modal) {
            record(modal);
            Enter("abc")(modal);
        });
        script.Then(ExpectInformation(floatRefusal));
    }
    script.Then([&, record](QWidget* modal) {
        record(modal);
        Press(modal, QDialogButtonBox::Cancel);
    });
    float value = 1.5f;
    EXPECT_FALSE(script.Run([&] { return GetFloatFromUser("Enter new offset:", value, nullptr); }));
    ExpectScriptDone(script);
    ASSERT_EQ(shown.size(), 4);
    for (const QSize& size : shown)
        EXPECT_EQ(size, shown.first());
}

namespace {

struct CardDate
{
    std::uint8_t day = 0;
    std::uint8_t month = 0;
    std::uint16_t year = 0;
};

ModalScript::Step SetDate(const QDate& expectedShown, const QDate& newDate, bool ok = true)
{
    return [=](QWidget* modal) {
        if (ValueFromUserDlg* dialog = AsValueDialog(modal)) {
            auto* edit = dialog->findChild<QDateEdit*>();
            EXPECT_TRUE(edit->calendarPopup());
            EXPECT_EQ(edit->date(), expectedShown);
            edit->setDate(newDate);
        }
        Press(modal, ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
    };
}

} // namespace

TEST(ValueDialogsTest, DateDialogEditsQDateAndDayMonthYear)
{
    QDate date(2024, 2, 29);
    ModalScript script;
    script.Then(SetDate(QDate(2024, 2, 29), QDate(2025, 3, 1)));
    EXPECT_TRUE(
        script.Run([&] { return GetDateFromUser("Set new calibration date:", date, nullptr); }));
    EXPECT_EQ(date, QDate(2025, 3, 1));

    script.Then(SetDate(QDate(2025, 3, 1), QDate(2000, 1, 1), false));
    EXPECT_FALSE(
        script.Run([&] { return GetDateFromUser("Set new calibration date:", date, nullptr); }));
    EXPECT_EQ(date, QDate(2025, 3, 1));

    // A card that was never calibrated holds 0/0/0: today is offered instead.
    CardDate cardDate;
    script.Then(SetDate(QDate::currentDate(), QDate(2031, 12, 24)));
    EXPECT_TRUE(script.Run(
        [&] { return GetDateFromUser("Set new calibration date:", cardDate, nullptr); }));
    EXPECT_EQ(cardDate.day, 24);
    EXPECT_EQ(cardDate.month, 12);
    EXPECT_EQ(cardDate.year, 2031);

    int day = 5, month = 6, year = 2023;
    script.Then(SetDate(QDate(2023, 6, 5), QDate(2023, 6, 5)));
    EXPECT_TRUE(script.Run(
        [&] { return GetDateFromUser("Set new calibration date:", day, month, year, nullptr); }));
    EXPECT_EQ(QDate(year, month, day), QDate(2023, 6, 5));
    ExpectScriptDone(script);
}

TEST(ValueDialogsTest, YesNoQuestionIsTrueOnlyForYes)
{
    struct Case
    {
        QMessageBox::StandardButton press; // NoButton: closed without an answer
        bool expected;
    };
    for (const Case& c : {Case{QMessageBox::Yes, true}, Case{QMessageBox::No, false},
                          Case{QMessageBox::NoButton, false}}) {
        ModalScript script;
        script.Then([&c](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!box) {
                ADD_FAILURE() << "expected a question box";
                return;
            }
            EXPECT_TRUE(box->windowTitle().isEmpty());
            EXPECT_EQ(box->text(), "Reset the three long term stats?");
            EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
            if (c.press == QMessageBox::NoButton)
                box->reject();
            else
                box->button(c.press)->click();
        });
        EXPECT_EQ(
            script.Run([] { return YesNoQuestion("Reset the three long term stats?", nullptr); }),
            c.expected);
        ExpectScriptDone(script);
    }
}

TEST(ValueDialogsTest, ParentDestroyedWhileAskingIsNoAnswer)
{
    // The card face can be rebuilt under an open dialog; the dialog goes with its parent.
    auto* row = new QWidget;
    float value = 1.0f;
    ModalScript script;
    script.Then([row](QWidget*) { delete row; });
    EXPECT_FALSE(script.Run([&] { return GetFloatFromUser("Enter new value:", value, row); }));
    EXPECT_EQ(value, 1.0f);

    // ... also while the refusal box is up.
    row = new QWidget;
    script.Then(Enter("abc")).Then([row](QWidget*) { delete row; });
    EXPECT_FALSE(script.Run([&] { return GetFloatFromUser("Enter new value:", value, row); }));

    row = new QWidget;
    script.Then([row](QWidget*) { delete row; });
    EXPECT_FALSE(script.Run([&] { return YesNoQuestion("Are you sure?", row); }));
    ExpectScriptDone(script);
}
