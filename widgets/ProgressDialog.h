#pragma once

#include <memory>

#include <QDialog>
#include <QString>

#include <boost/function.hpp>

namespace Ui {
class ProgressDialog;
}

// Progress of a long card operation (the 8-day download, the EEPROM wipe), with a Cancel
// button that calls the owner's cancel handler.
// Threads: everything runs in the GUI thread except setPercent() and SetText(), which any
// thread may call while the dialog exists; they only queue the update. The cancel handler runs
// in the GUI thread.
class ProgressDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ProgressDialog(QWidget* parent);
    ~ProgressDialog() override;

    // Cancel is enabled exactly when handler is not empty (it starts enabled, doing nothing).
    void SetCancelHandler(boost::function<void()> handler);
    // For an operation whose end is not known in advance: the bar shows activity instead of a
    // share done, and the text says how far it has got.
    void SetTotalUnknown();
    // The line above the bar. Any thread; like setPercent, it only queues the update.
    void SetText(const QString& text);

public slots:
    // Moves the bar (0..1000) to percent x 10, truncated. Any thread.
    void setPercent(float percent);

private slots:
    void on_cancelButton_clicked();

private:
    std::unique_ptr<Ui::ProgressDialog> m_ui;
    boost::function<void()> m_cancelHandler;
};
