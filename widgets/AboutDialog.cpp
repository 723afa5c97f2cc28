#include "widgets/AboutDialog.h"

#include "ui_AboutDialog.h"

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent), m_ui(new Ui::AboutDialog)
{
    m_ui->setupUi(this);
    // The same numbers as the main window's title.
    m_ui->versionLabel->setText(
        QString("Version %1.%2").arg(TOLVAREN_VERSION_MAJOR).arg(TOLVAREN_VERSION_MINOR));
}

AboutDialog::~AboutDialog() = default;
