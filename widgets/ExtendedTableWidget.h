#pragma once

#include <QTableWidget>

// A table whose selection can be copied as text: cells of a row joined by TABs, rows by line
// feeds. Ctrl+C copies; other keys are swallowed, so a read-only log never starts an editor
// or jumps away from the newest row.
//
// Threads: user-interface thread only.
class ExtendedTableWidget : public QTableWidget
{
    Q_OBJECT

public:
    explicit ExtendedTableWidget(QWidget* parent = nullptr);

    // The selection as it would be copied.
    QString SelectionText() const;

public slots:
    void copy();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
