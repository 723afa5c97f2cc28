#pragma once

#include <memory>
#include <vector>

#include <QDialog>

#include "protocol/PointImportRecord.h"

namespace Ui {
class ConfigImportDialog;
}

// Shows the points read from an import file, one row each, for the user to confirm before they
// are written to the card: accepted means write them.
//
// Threads: user-interface thread only.
class ConfigImportDialog : public QDialog
{
    Q_OBJECT

public:
    ConfigImportDialog(const std::vector<PointImportRecord>& points, QWidget* parent);
    ~ConfigImportDialog() override;

private:
    std::unique_ptr<Ui::ConfigImportDialog> m_ui;
};
