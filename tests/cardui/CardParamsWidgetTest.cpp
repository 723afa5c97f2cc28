#include <memory>

#include <QComboBox>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QStyleOptionViewItem>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "cardui/CardParamViewDelegate.h"
#include "cardui/CardParamsWidget.h"
#include "cardui/ParamsTableModel.h"
#include "cardui/TolvarenCardWidget.h"
#include "protocol/CardParamsAccessor.h"
#include "protocol/TolvarenCommsCommon.h"
#include "tests/cardui/CardUiDialogSteps.h"
#include "tests/protocol/FakeCardRig.h"
#include "tests/support/CardUiRig.h"

using namespace CardUiDialogSteps;

namespace {

typedef FakeCardProtocol::ParameterReplies Replies;

Replies Def(const std::string& name, std::uint16_t address, std::uint16_t flags,
            const std::string& units = "",
            const std::vector<std::pair<std::string, std::uint16_t>>& labels = {})
{
    Replies replies{FakeCardProtocol::DefinitionReply(name, units, address, flags), {}};
    if (!labels.empty())
        replies.enumReplies.push_back(FakeCardProtocol::EnumReply(labels));
    return replies;
}

// Modules A (named by its second parameter), B and C (one parameter each).
const std::vector<Replies> threeModules = {
    Def("A_Gain", 0, 0x0800, "%"),
    Def("A_ModuleName", 0, 0x0800),
    Def("A_Level", 300, 0x3902, "m"),
    Def("A_Pump", 40, 0x1C00, "", {{"Off", 0}, {"On", 1}}),
    Def("A_Flow", 10, 0x4202, "l/s"),
    Def("A_Alarm", 7, 0x2000),
    Def("B_Speed", 301, 0x3A01, "rpm"),
    Def("C_Trim", 302, 0x3901),
};

void Fill(FakeCardRig& rig)
{
    rig.content.SetParameters(threeModules);
    rig.content.SetNamedVariable("~A_Gain", CPackedVal::FromFloat(12.5f));
    rig.content.SetNamedVariable("~A_ModuleName", CPackedVal::FromString("  Boiler house "));
    rig.card.SetHoldingRegisterUInt16(300, 1234);
    rig.card.SetCoil(40, true);
    rig.card.SetInputRegisterUInt16(10, 7);
    rig.card.SetDiscreteInput(7, false);
    rig.card.SetHoldingRegisterUInt16(301, 90);
    rig.card.SetHoldingRegisterUInt16(302, 5);
}

// A model on module A of a filled fake card, run by hand (inactive, one read per Refresh).
class ParamsTableModelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Fill(rig);
        rig.datalink.SetReplyTimeoutMs(200);
        CardParamsVec all = TolvarenCommsCommon(rig.datalink).GetParameterDefinitions().get();
        all.resize(6);
        model.reset(new ParamsTableModel(
            boost::make_shared<CardParamsAccessor>(all, rig.datalink), nullptr));
        Refresh();
    }

    // One read, waited for until its result has been handled.
    bool Refresh()
    {
        QSignalSpy gathered(model.get(), SIGNAL(ValuesGathered()));
        model->RefreshValues();
        return gathered.wait(10000);
    }

    QString Text(int row, int column, int role = Qt::DisplayRole) const
    {
        return model->index(row, column).data(role).toString();
    }

    FakeCardRig rig{4, 9};
    std::unique_ptr<ParamsTableModel> model;
};

TEST_F(ParamsTableModelTest, ColumnsShowNamesValuesAndWhereTheCardKeepsThem)
{
    struct Row
    {
        const char* name;
        const char* value;
        const char* edit;
        const char* storage;
        bool writable;
    } rows[] = {
        {"Gain:", "   12.5 %", "12.5", "Tool only", true},
        {"ModuleName:", "     Boiler house  ", "  Boiler house ", "Tool only", true},
        {"Level:", "   12.34 m", "12.34", "Holding Register 300 and scale by 0.01", true},
        {"Pump:", "   On ", "On", "Coil 40", true},
        {"Flow:", "   700 l/s", "700", "Input Register 10 and scale by 100", false},
        {"Alarm:", "   0 ", "0", "Discrete Input 7", false},
    };
    ASSERT_EQ(model->rowCount(), 6);
    ASSERT_EQ(model->columnCount(), 3);
    for (int r = 0; r < 6; ++r) {
        SCOPED_TRACE(rows[r].name);
        EXPECT_EQ(Text(r, 0), rows[r].name);
        EXPECT_EQ(Text(r, 1), rows[r].value);
        EXPECT_EQ(Text(r, 2), rows[r].storage);
        EXPECT_EQ(Text(r, 1, Qt::EditRole), rows[r].edit);
        const Qt::ItemFlags valueFlags = model->flags(model->index(r, 1));
        EXPECT_EQ(bool(valueFlags & Qt::ItemIsEditable), rows[r].writable);
        EXPECT_FALSE(model->flags(model->index(r, 0)) & Qt::ItemIsEditable);
        const QVariant background = model->index(r, 2).data(Qt::BackgroundRole);
        EXPECT_EQ(background.isValid(), !rows[r].writable);
        if (!rows[r].writable) {
            EXPECT_EQ(background.value<QColor>(), QColor(Qt::lightGray));
        }
    }
    EXPECT_EQ(model->index(0, 0).data(Qt::TextAlignmentRole).toInt(),
              int(Qt::AlignRight | Qt::AlignVCenter));
    EXPECT_EQ(model->index(0, 1).data(Qt::TextAlignmentRole).toInt(),
              int(Qt::AlignLeft | Qt::AlignVCenter));
    EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), "Parameter");
    EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), "Value");
    EXPECT_EQ(model->headerData(2, Qt::Horizontal).toString(), "Modbus register");
    EXPECT_EQ(model->headerData(0, Qt::Vertical).toString(), "");
}

TEST_F(ParamsTableModelTest, AnEditToTheSameTextSendsNothingAndAFailedOneKeepsTheOldText)
{
    rig.card.ClearRequests();
    EXPECT_TRUE(model->setData(model->index(2, 1), QStringLiteral("12.34")));
    EXPECT_EQ(rig.card.RequestCount(), 0u);

    QString warning;
    ModalScript script;
    script.Then(Press(QMessageBox::Ok, &warning));
    EXPECT_FALSE(script.Run([&] { return model->setData(model->index(2, 1), "12,5"); }));
    EXPECT_EQ(warning, "Failed to write parameter value: value is not a valid number");
    EXPECT_EQ(Text(2, 1, Qt::EditRole), "12.34");

    rig.card.FailAddress(6, 300, 4);
    ModalScript refused;
    refused.Then(Press(QMessageBox::Ok, &warning));
    EXPECT_FALSE(refused.Run([&] { return model->setData(model->index(2, 1), "3"); }));
    EXPECT_TRUE(warning.startsWith("Failed to write parameter value: ")) << warning.toStdString();
    EXPECT_EQ(Text(2, 1, Qt::EditRole), "12.34");
}

TEST_F(ParamsTableModelTest, AWriteDuringAReadIsNotOverwrittenByThatRead)
{
    QSignalSpy gathered(model.get(), SIGNAL(ValuesGathered()));
    rig.card.ClearRequests();
    model->RefreshValues();
    // The read has taken Gain's old value (its first request) when the write goes out.
    ASSERT_TRUE(rig.card.WaitForRequests(1));
    ASSERT_TRUE(model->IsReading());
    EXPECT_TRUE(model->setData(model->index(0, 1), QStringLiteral("20")));
    EXPECT_EQ(rig.content.NamedVariable("~A_Gain").AsString(), "20");

    ASSERT_TRUE(gathered.wait(10000));
    EXPECT_EQ(Text(0, 1, Qt::EditRole), "20"); // the older reading was dropped
    EXPECT_TRUE(model->IsReading());           // and the read repeated
    ASSERT_TRUE(gathered.wait(10000));
    EXPECT_FALSE(model->IsReading());
}

TEST_F(ParamsTableModelTest, ATimeOutKeepsTheValuesAndOtherErrorsStopTheRefreshing)
{
    model->SetActive(true);
    QSignalSpy gathered(model.get(), SIGNAL(ValuesGathered()));
    QSignalSpy changed(model.get(), SIGNAL(dataChanged(QModelIndex, QModelIndex, QVector<int>)));
    rig.card.DropReplies(1);
    ASSERT_TRUE(gathered.wait(10000));
    EXPECT_EQ(Text(2, 1), "   12.34 m");
    EXPECT_GE(changed.count(), 1);
    EXPECT_TRUE(model->IsActive());
    // Refreshing goes on: the next read sees a new value.
    rig.card.SetHoldingRegisterUInt16(300, 4321);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Text(2, 1) == "   43.21 m"; }, 10000));

    QString message;
    ModalScript script;
    script.Then(Press(QMessageBox::Ok, &message));
    rig.card.FailAddress(3, 300, 2);
    script.Run([&] { return QTest::qWaitFor([&] { return !message.isEmpty(); }, 10000); });
    EXPECT_EQ(message.toStdString(), "Error while reading parameter values: error while reading parameter "
                       "'A_Level': node returned an error: illegal data address");
    EXPECT_FALSE(model->IsActive());
    EXPECT_EQ(Text(2, 1), "   43.21 m");
}

TEST_F(ParamsTableModelTest, TheComboBoxWritesAChoiceAtOnce)
{
    QTableView view;
    CardParamViewDelegate delegate;
    view.setModel(model.get());
    view.setItemDelegate(&delegate);
    const QModelIndex pump = model->index(3, 1);
    std::unique_ptr<QWidget> editor(
        delegate.createEditor(view.viewport(), QStyleOptionViewItem(), pump));
    auto* combo = qobject_cast<QComboBox*>(editor.get());
    ASSERT_NE(combo, nullptr);
    ASSERT_EQ(combo->count(), 2);
    delegate.setEditorData(combo, pump);
    EXPECT_EQ(combo->currentText(), "On");

    // Choosing writes the coil without any further step.
    QObject::connect(&delegate, &QAbstractItemDelegate::commitData,
                     [&](QWidget* w) { delegate.setModelData(w, model.get(), pump); });
    combo->setCurrentIndex(0);
    emit combo->activated(0);
    EXPECT_EQ(rig.card.Coil(40).value_or(true), false);
    EXPECT_EQ(Text(3, 1, Qt::EditRole), "Off");

    std::unique_ptr<QWidget> other(
        delegate.createEditor(view.viewport(), QStyleOptionViewItem(), model->index(0, 1)));
    EXPECT_EQ(qobject_cast<QComboBox*>(other.get()), nullptr); // not enumerated

    // A text that is none of the labels (nothing read yet, or "Invalid value" for a number no
    // label names) leaves the list without a choice instead of failing.
    ParamsTableModel unread(boost::make_shared<CardParamsAccessor>(
                                CardParamsVec{*model->Parameter(3)}, rig.datalink),
                            nullptr);
    std::unique_ptr<QWidget> fresh(
        delegate.createEditor(view.viewport(), QStyleOptionViewItem(), unread.index(0, 1)));
    auto* unreadCombo = qobject_cast<QComboBox*>(fresh.get());
    ASSERT_NE(unreadCombo, nullptr);
    EXPECT_NO_THROW(delegate.setEditorData(unreadCombo, unread.index(0, 1)));
    EXPECT_EQ(unreadCombo->currentIndex(), -1);
}

// Three modules on a card face: three tabs after "I/O", titled as each module reports.
TEST(CardParamsWidgetTest, ThreeModulesGiveThreeTabsAndOnlyTheFirstReadsTheDefinitions)
{
    CardUiRig rig;
    FakeCardProtocol content(rig.card, 4, 9);
    rig.card.ClearRequests();
    content.SetParameters(threeModules);
    content.SetNamedVariable("~A_ModuleName", CPackedVal::FromString("  Boiler house "));
    content.SetNamedVariable("~A_Gain", CPackedVal::FromFloat(1.0f));
    rig.Fill(4, 9, 2, 2).numControlModules = 3;

    TolvarenCardWidget face(&rig.datalink, nullptr);
    face.UpdateFromSnapshot(&rig.gatherer);
    auto* tabs = face.findChild<QTabWidget*>("tabWidget");
    ASSERT_EQ(tabs->count(), 4);
    EXPECT_EQ(tabs->tabText(0), "I/O");
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(tabs->tabText(i), "Loading...");

    ASSERT_TRUE(QTest::qWaitFor([&] { return tabs->tabText(3) != "Loading..."; }, 10000));
    EXPECT_EQ(tabs->tabText(1), "Boiler house");
    EXPECT_EQ(tabs->tabText(2), "Control B");
    EXPECT_EQ(tabs->tabText(3), "Control C");
    std::size_t definitionReads = 0;
    for (const FakeCardRequest& r : rig.card.Requests())
        definitionReads += r.IsVendor() && r.address == 9 ? 1 : 0;
    EXPECT_EQ(definitionReads, threeModules.size() + 1); // one pass and its empty end

    const auto widgets = face.findChildren<CardParamsWidget*>();
    ASSERT_EQ(widgets.size(), 3);
    for (CardParamsWidget* w : widgets) {
        EXPECT_EQ(w->StatusText(), "Parameters loaded.");
        ASSERT_NE(w->Model(), nullptr);
        EXPECT_FALSE(w->Model()->IsActive()); // hidden behind the I/O tab
    }
    EXPECT_EQ(widgets[1]->Model()->rowCount(), 1);
}

TEST(CardParamsWidgetTest, HidingTheTabStopsTheRequestsAndShowingRefreshesAtOnce)
{
    FakeCardRig rig(4, 9);
    Fill(rig);
    auto shared = boost::make_shared<SharedCardParams>();
    CardParamsWidget widget(1, shared, rig.datalink, nullptr);
    widget.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return widget.Model() != nullptr; }, 10000));
    QSignalSpy gathered(widget.Model(), SIGNAL(ValuesGathered()));
    ASSERT_TRUE(gathered.wait(10000));
    ASSERT_TRUE(gathered.wait(10000)); // the timer runs
    EXPECT_TRUE(widget.Model()->IsActive());

    widget.hide();
    EXPECT_FALSE(widget.Model()->IsActive());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !widget.Model()->IsReading(); }, 10000));
    rig.card.ClearRequests();
    // Three refresh intervals without a request.
    QTest::qWait(900);
    EXPECT_EQ(rig.card.RequestCount(), 0u);

    widget.show();
    EXPECT_TRUE(widget.Model()->IsReading());
    EXPECT_TRUE(rig.card.WaitForRequests(1));
}

TEST(CardParamsWidgetTest, AFailedDefinitionsReadShowsItsErrorInTheFirstTabOnly)
{
    FakeCardRig rig(4, 9);
    rig.content.SetParameters({{ByteVec{1, 'A'}, {}}});
    auto shared = boost::make_shared<SharedCardParams>();
    CardParamsWidget first(0, shared, rig.datalink, nullptr);
    CardParamsWidget second(1, shared, rig.datalink, nullptr);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return first.StatusText() != "Loading parameters..."; }, 10000));
    EXPECT_EQ(first.StatusText(), "Invalid response to QEL_GET_PARAMETER_DEFN");
    EXPECT_EQ(second.StatusText(), "Loading parameters...");
    EXPECT_EQ(shared->state, SharedCardParams::BeingRead);
}

} // namespace
