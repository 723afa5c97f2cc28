#pragma once

#include <memory>

#include <QDialog>

namespace Ui {
class AboutDialog;
}

// The program's name and version (major.minor, compiled in from the build) and a link to the Qt
// project. Threads: user-interface thread only.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent);
    ~AboutDialog() override;

private:
    std::unique_ptr<Ui::AboutDialog> m_ui;
};
