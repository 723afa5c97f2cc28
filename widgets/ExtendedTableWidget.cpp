#include "widgets/ExtendedTableWidget.h"

#include <algorithm>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>

ExtendedTableWidget::ExtendedTableWidget(QWidget* parent) : QTableWidget(parent) {}

QString ExtendedTableWidget::SelectionText() const
{
    QModelIndexList indexes = selectedIndexes();
    std::sort(indexes.begin(), indexes.end(), [](const QModelIndex& a, const QModelIndex& b) {
        return a.row() != b.row() ? a.row() < b.row() : a.column() < b.column();
    });
    QString text;
    int previousRow = -1;
    for (const QModelIndex& index : indexes) {
        if (!text.isEmpty())
            text += index.row() == previousRow ? QChar('\t') : QChar('\n');
        text += index.data(Qt::DisplayRole).toString();
        previousRow = index.row();
    }
    return text;
}

void ExtendedTableWidget::copy()
{
    QApplication::clipboard()->setText(SelectionText());
}

void ExtendedTableWidget::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_C && (event->modifiers() & Qt::ControlModifier))
        copy();
}
