#include "widgets/ConfigImportDialog.h"

#include <QHeaderView>
#include <QTableWidgetItem>

#include "ui_ConfigImportDialog.h"

namespace {

QTableWidgetItem* Item(const std::string& utf8)
{
    return new QTableWidgetItem(QString::fromUtf8(utf8.data(), int(utf8.size())));
}

} // namespace

ConfigImportDialog::ConfigImportDialog(const std::vector<PointImportRecord>& points,
                                       QWidget* parent)
    : QDialog(parent), m_ui(new Ui::ConfigImportDialog)
{
    m_ui->setupUi(this);
    QTableWidget* table = m_ui->tableWidget;
    for (const PointImportRecord& point : points) {
        const int row = table->rowCount();
        table->insertRow(row);
        const QString name = point.direction == Tolvaren::Input ? QStringLiteral("Input %1")
                                                                : QStringLiteral("Output %1");
        table->setItem(row, 0, new QTableWidgetItem(name.arg(point.number)));
        table->setItem(row, 1, Item(point.label));
        table->setItem(row, 2, Item(point.partNumber));
        table->setItem(row, 3, Item(point.notes));
    }
    table->resizeColumnsToContents();
    table->horizontalHeader()->setStretchLastSection(true);
    table->resizeRowsToContents();
}

ConfigImportDialog::~ConfigImportDialog() = default;
