#pragma once

#include <memory>

#include <QDialog>
#include <QString>

class CPackedVal;
class ModbusMasterDatalink;

namespace Ui {
class NamedVarDialog;
}

// Raw access to the card's named variables, for factory use: reads a variable and shows its
// value by its tag, or writes the typed text as a string value. Outcomes and errors are shown in
// the dialog itself, never in a message box.
//
// Threads: user-interface thread only; each button waits for the card.
class NamedVarDialog : public QDialog
{
    Q_OBJECT

public:
    // datalink: not owned; it outlives the dialog.
    NamedVarDialog(ModbusMasterDatalink& datalink, QWidget* parent);
    ~NamedVarDialog() override;

    // The text a read value is shown as. Throws ExceptionWithString "PackedVal is not a float",
    // "PackedVal is not a UInt32", "PackedVal is not a valid float array" or "PackedVal is not a
    // string" for a value that does not hold what its tag says.
    static QString ValueText(const CPackedVal& value);

private slots:
    void on_readButton_clicked();
    void on_writeButton_clicked();

private:
    std::unique_ptr<Ui::NamedVarDialog> m_ui;
    ModbusMasterDatalink& m_datalink;
};
