#include "cardui/ParamsTableView.h"

#include <QHeaderView>
#include <QScrollBar>

ParamsTableView::ParamsTableView(QWidget* parent) : QTableView(parent)
{
    resize(400, 300);
    setWindowTitle(QStringLiteral("ParamsTableView"));
}

QSize ParamsTableView::sizeHint() const
{
    const QHeaderView* top = horizontalHeader();
    int width = top->geometry().left() + top->length() + 2;
    if (verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOn)
        width += verticalScrollBar()->width();
    const int height = top->geometry().bottom() + verticalHeader()->length() + 2;
    return QSize(width, height);
}
