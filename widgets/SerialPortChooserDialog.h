#pragma once

#include <QDialog>

class QListWidget;
class QPushButton;
class QTimer;

// Lists the COM ports present (busy ones too), refreshed every 300 ms, and returns the one the
// user picks. GUI thread only.
class SerialPortChooserDialog : public QDialog
{
    Q_OBJECT

public:
    // currentPort is preselected when present (0 or less: the first port).
    explicit SerialPortChooserDialog(int currentPort, QWidget* parent = nullptr);

    // The port confirmed with Ok; 0 until then.
    int GetChosenPort() const { return m_chosenPort; }

public slots:
    // Lists the ports again, keeping the selected one selected.
    void PopulatePortsListWidget();

private slots:
    void on_okButton_pressed();

private:
    void PopulatePortsListWidget(int portToSelect);

    QListWidget* m_list;
    QPushButton* m_okButton;
    QTimer* m_timer;
    int m_chosenPort = 0;
};
