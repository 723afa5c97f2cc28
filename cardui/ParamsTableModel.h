#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QAbstractTableModel>
#include <QTimer>

#include <boost/shared_ptr.hpp>

#include "async/FuturePtr.h"
#include "protocol/CardParameter.h"

class CardParamsAccessor;
class FutureThen;

// The parameters of one control module as a three-column table (name, value, where the card
// keeps it) that re-reads its values 300 ms after each read ended while it is active, and writes
// an edited value at once. A value written while a read was under way is not overwritten by that
// read: its result is dropped and the read repeated.
//
// Threads: user-interface thread only. Reads run on the accessor's worker and come back through
// a queued delivery to HandleParamValuesGathered; a write waits in the user-interface thread.
class ParamsTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        NameColumn = 0,
        ValueColumn = 1,
        StorageColumn = 2,
    };

    ParamsTableModel(boost::shared_ptr<CardParamsAccessor> accessor, QObject* parent);
    ~ParamsTableModel() override;

    // Active while the table is visible: reads go on every 300 ms. Activating reads at once.
    void SetActive(bool active);
    bool IsActive() const { return m_active; }
    // True from the start of a read until its result has been handled.
    bool IsReading() const { return m_reading; }

    // The parameter shown in a row, or null.
    const CardParameter* Parameter(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Writes an edited value to the card unless it is the text already shown; a refused or failed
    // write shows a warning and keeps the old text.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

signals:
    // A read's result has been handled (shown, dropped for a repeat, or reported).
    void ValuesGathered();

public slots:
    // Starts a read once no event handler is running any more.
    void RefreshValues();

private slots:
    void RefreshValuesImpl();
    void HandleParamValuesGathered(FuturePtr<std::vector<std::string>>::type fut);

private:
    QString NameText(const CardParameter& param) const;
    static QString StorageText(const CardParameter& param);
    void ValuesChanged(int firstRow, int lastRow, int firstColumn, int lastColumn);

    boost::shared_ptr<CardParamsAccessor> m_accessor;
    int m_prefixLength = 2;
    std::vector<std::string> m_values;
    bool m_active = false;
    bool m_writtenSinceRead = false;
    bool m_reading = false;
    QTimer m_timer;
    // Declared last: destroyed first, it waits for a read still being delivered.
    std::unique_ptr<FutureThen> m_then;
};
