#include "graphs/AskCsvFileName.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>

#include "widgets/DefaultFolder.h"

namespace {
const char* const lastFileKey = "GraphWindowLastFilename";
}

QString AskCsvFileName(QWidget* parent)
{
    QSettings settings;
    QString folder = QFileInfo(settings.value(lastFileKey).toString()).path();
    if (settings.value(lastFileKey).toString().isEmpty() || folder.isEmpty() ||
        !QFileInfo(folder).isDir())
        folder = DocumentsFolderOrHome();

    QFileDialog dialog(parent, "File to save to", folder, "CSV files (*.csv)");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("csv");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    const QString name = dialog.selectedFiles().first();
    if (!name.isEmpty())
        settings.setValue(lastFileKey, name);
    return name;
}
