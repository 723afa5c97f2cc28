#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include "protocol/CPackedVal.h"
#include "protocol/TolvarenCommsCommon.h"
#include "tests/protocol/FakeCardRig.h"
#include "widgets/NamedVarDialog.h"

namespace {

struct DialogOnCard
{
    FakeCardRig rig{4, 9};
    NamedVarDialog dialog{rig.datalink, nullptr};

    QLineEdit* Edit(const char* name) { return dialog.findChild<QLineEdit*>(name); }
    QString Result() { return dialog.findChild<QLabel*>("resultLabel")->text(); }
    void Press(const char* button) { dialog.findChild<QPushButton*>(button)->click(); }
};

} // namespace

TEST(NamedVarDialogTest, ReadShowsTheValueByItsTagOrWhyItCannot)
{
    DialogOnCard d;
    EXPECT_EQ(d.dialog.windowTitle(), "Named variable access");
    EXPECT_EQ(d.Result(), "awaiting button press...");

    const struct
    {
        const char* name;
        CPackedVal value;
        QString shown; // expected value text; empty with an error
        QString result;
    } cases[] = {
        {"Gain", CPackedVal::FromFloat(-12.5f), "-12.5000", "Read success"},
        {"Tag", CPackedVal::FromString("Pump \xC2\xB0"), QString::fromUtf8("Pump \xC2\xB0"),
         "Read success"},
        {"Count", CPackedVal::FromUInt32(4000000000u), "4000000000", "Read success"},
        {"Safe", CPackedVal::FromFloatArray({1.0f, 2.0f}), "1.0000, 2.0000, ", "Read success"},
        {"None", CPackedVal::FromFloatArray({}), "", "Read success"},
        {"ShortFloat", CPackedVal(ByteVec{1, 0x41, 0x20}), "", "Error: PackedVal is not a float"},
        {"LongUInt", CPackedVal(ByteVec{3, 0, 0, 0, 1, 0}), "", "Error: PackedVal is not a UInt32"},
        {"Ragged", CPackedVal(ByteVec{4, 0x3F, 0x80, 0}), "",
         "Error: PackedVal is not a valid float array"},
        {"Odd", CPackedVal(ByteVec{7, 1, 2}), "", "Error: PackedVal is not a string"},
        {"Blank", CPackedVal(), "", "Error: PackedVal is not a string"},
    };
    for (const auto& c : cases)
        d.rig.content.SetNamedVariable(c.name, c.value);

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        d.Edit("valueEdit")->setText("before");
        d.Edit("varNameEdit")->setText(c.name);
        d.Press("readButton");
        EXPECT_EQ(d.Result(), c.result);
        EXPECT_EQ(d.Edit("valueEdit")->text(), c.result == "Read success" ? c.shown : "before");
    }

    // The card's own refusal, with no message box.
    d.Edit("varNameEdit")->setText("NoSuchVariable");
    d.Press("readButton");
    EXPECT_EQ(d.Result(), "Error: node returned an error: illegal data address");
}

TEST(NamedVarDialogTest, WriteSendsTheTextAsAStringWhateverTheVariableHolds)
{
    DialogOnCard d;
    d.rig.content.SetNamedVariable("Setpoint", CPackedVal::FromFloat(3.0f));
    d.Edit("varNameEdit")->setText("Setpoint");
    d.Edit("valueEdit")->setText("12.5");
    d.Press("writeButton");

    EXPECT_EQ(d.Result(), "Write success");
    const std::vector<ByteVec> writes = d.rig.content.NamedVariableWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0],
              (ByteVec{8, 'S', 'e', 't', 'p', 'o', 'i', 'n', 't', 2, '1', '2', '.', '5'}));

    // Read back, it is the text the card now holds.
    d.Edit("valueEdit")->clear();
    d.Press("readButton");
    EXPECT_EQ(d.Edit("valueEdit")->text(), "12.5");

    d.rig.card.FailVendorCommand(TolvarenCommsCommon::QEL_WRITE_NAMED_VAR, 4);
    d.Press("writeButton");
    EXPECT_EQ(d.Result(), "Error: node returned an error: device failure");
}

TEST(NamedVarDialogTest, OlderCardTakesOnlyNumbers)
{
    // Before register-map version 8 a write carries a bare float: text that is no number is
    // refused before anything is sent.
    FakeCardRig rig(4, 7);
    NamedVarDialog dialog(rig.datalink, nullptr);
    dialog.findChild<QLineEdit*>("varNameEdit")->setText("Setpoint");
    dialog.findChild<QLineEdit*>("valueEdit")->setText("fast");
    dialog.findChild<QPushButton*>("writeButton")->click();
    EXPECT_EQ(dialog.findChild<QLabel*>("resultLabel")->text(), "Error: PackedVal is not a float");
    EXPECT_TRUE(rig.content.NamedVariableWrites().empty());
}
