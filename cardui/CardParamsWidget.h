#pragma once

#include <memory>

#include <QModelIndex>
#include <QString>
#include <QVector>
#include <QWidget>

#include <boost/shared_ptr.hpp>

#include "async/FuturePtr.h"
#include "protocol/CardParameter.h"

class CardParamsAccessor;
class FutureThen;
class ModbusMasterDatalink;
class ParamsTableModel;
class TolvarenCommsCommon;

namespace Ui {
class CardParamsWidget;
}

// The tab of one control module on the card face: "Loading parameters..." until the card's
// parameter definitions are known (the first tab of a card reads them for all tabs, the others
// wait for them), then the module's parameters in a table that refreshes itself while visible.
// It names its module through ModuleNameChanged: by the module's "ModuleName" parameter when it
// has one, else "Control A", "Control B", ...
//
// Threads: user-interface thread only; the definitions are read on a worker of the widget's own
// card access object and delivered to HandleParamsGathered.
class CardParamsWidget : public QWidget
{
    Q_OBJECT

public:
    // moduleIndex: 0 for module A. datalink: the main window's; it outlives this widget.
    CardParamsWidget(int moduleIndex, boost::shared_ptr<SharedCardParams> shared,
                     ModbusMasterDatalink& datalink, QWidget* parent);
    ~CardParamsWidget() override;

    int ModuleIndex() const { return m_moduleIndex; }
    // Null until the definitions are known.
    ParamsTableModel* Model() const { return m_model.get(); }
    QString StatusText() const;

signals:
    void ModuleNameChanged(QString newName);

public slots:
    void CheckSharedParamsState();
    void HandleParamsGathered(FuturePtr<CardParamsVec>::type fut);
    void ModelDataChanged(QModelIndex topLeft, QModelIndex bottomRight, QVector<int> roles);
    void ModelDataChanged(QModelIndex topLeft, QModelIndex bottomRight);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void ShowModule();
    QString ModuleTitle(const CardParamsVec& params);

    std::unique_ptr<Ui::CardParamsWidget> m_ui;
    int m_moduleIndex;
    boost::shared_ptr<SharedCardParams> m_shared;
    ModbusMasterDatalink& m_datalink;
    boost::shared_ptr<TolvarenCommsCommon> m_comms;
    boost::shared_ptr<CardParamsAccessor> m_accessor;
    boost::shared_ptr<ParamsTableModel> m_model;
    // Declared last: destroyed first, it waits for a definitions read still being delivered.
    std::unique_ptr<FutureThen> m_then;
};
