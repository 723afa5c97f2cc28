#pragma once

#include <QDialog>

class QListWidget;
class QPushButton;
class QTimer;

// Lists the COM ports present (busy ones too) and the network ports added, refreshed every
// 300 ms, and returns the one the user picks. Network ports are added ("Add network port...",
// checked before they are kept) and removed here. GUI thread only.
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
    void on_addNetworkPortButton_clicked();
    void on_removeNetworkPortButton_clicked();
    void UpdateRemoveButton();

private:
    void PopulatePortsListWidget(int portToSelect);
    int SelectedPort() const; // 0 unless exactly one item is selected

    QListWidget* m_list;
    QPushButton* m_okButton;
    QPushButton* m_removeButton;
    QTimer* m_timer;
    int m_chosenPort = 0;
};
