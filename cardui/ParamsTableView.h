#pragma once

#include <QTableView>

// The table of one control module's parameters: as large as its columns and rows want to be.
//
// Threads: user-interface thread only.
class ParamsTableView : public QTableView
{
    Q_OBJECT

public:
    explicit ParamsTableView(QWidget* parent = nullptr);

    // Wide enough for all columns and tall enough for all rows.
    QSize sizeHint() const override;
};
