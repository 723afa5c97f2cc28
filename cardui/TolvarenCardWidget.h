#pragma once

#include <memory>

#include <QJsonObject>
#include <QString>
#include <QWidget>

#include "protocol/IUpdateableFromSnapshot.h"

class CardDetailsWidget;
class ModbusMasterDatalink;
class QAction;
class QMenu;
class QScrollArea;
class FutureThen;

namespace Ui {
class TolvarenCardWidget;
}

// The card face: a header with the card's health, identity and options menu, a body holding the
// card details (one row per I/O point) and, for a card with control modules, one parameter tab
// per module, and a footer with firmware, hardware revision and board voltage. The main window creates one after each full gathering and refreshes it from every
// later one.
//
// Threads: user-interface thread only.
class TolvarenCardWidget : public QWidget, public IUpdateableFromSnapshot
{
    Q_OBJECT

public:
    // datalink: the main window's, not owned; it outlives this widget. parent: the main window,
    // whose slots ExportToCsv() and ImportFromCsv() the CSV menu entries are connected to.
    TolvarenCardWidget(ModbusMasterDatalink* datalink, QWidget* parent);
    ~TolvarenCardWidget() override;

    // The first call builds the body and completes the options menu; every call refreshes the
    // header, the footer and the point rows. Throws ExceptionWithString "invalid card type" on
    // the first call when the snapshot's card type is outside 1..4.
    void UpdateFromSnapshot(TolvarenSnapshotGatherer* gatherer) override;

    // The card type shown; 0 before the first update.
    int CardType() const;

    // Scroll bar values of the scroll area holding the details.
    void GetScrollPosition(int& horizontal, int& vertical) const;
    // Applies the vertical value now when the scroll area can already scroll, otherwise once its
    // range becomes known. The horizontal value is kept but never applied.
    void RestoreScrollPosition(int horizontal, int vertical);

    // What "Save card report..." says of the port, and the card as found: the first full reading
    // of this card on this connection (an empty object: the report's own reading).
    void SetReportContext(const QString& port, const QJsonObject& asFound,
                          const QString& asFoundSource);

    // For tests and the main window's service functions.
    CardDetailsWidget* DetailsWidget() const { return m_detailsWidget; }
    QMenu* OptionsMenu() const { return m_optionsMenu; }
    QScrollArea* CurrentScrollArea() const { return m_currentScrollArea; }

public slots:
    void scrollRangeChanged(int min, int max);
    void SaveCardConfigToFile();
    void SetCardConfigFromFile();
    void DoSetCardConfig(QString filename);
    void HandleModuleNamedChanged(QString newName);
    void DownloadAllHistoricalData();
    void ClearAllHistoricalData();
    void ShowModbusTraffic();
    void ShowDipSwitchConfig();
    void ImportFormatHelp();
    void ShowAboutDialog();
    void SaveCardReport();
    void on_resetOccurredLabel_linkActivated(QString link);

private:
    void BuildOptionsMenu();
    // One tab per control module after the "I/O" tab, sharing one read of the definitions.
    void AddModuleTabs(int numModules);
    void CompleteOptionsMenu(bool trafficLogSupported);
    // Connects an entry to a slot of the parent window by name; disabled when there is none.
    void ConnectToParentSlot(QAction* action, const char* slotSignature);

    std::unique_ptr<Ui::TolvarenCardWidget> m_ui;
    ModbusMasterDatalink* m_datalink;
    CardDetailsWidget* m_detailsWidget = nullptr;
    QScrollArea* m_currentScrollArea = nullptr;
    int m_pendingScrollHorizontal = 0;
    int m_pendingScrollVertical = 0;
    // The async-call scope on which the download's outcome is delivered; joined on destruction.
    std::unique_ptr<FutureThen> m_asyncCalls;
    QMenu* m_optionsMenu = nullptr;
    QAction* m_modbusTrafficAction = nullptr;
    QString m_reportPort;
    QJsonObject m_asFound;
    QString m_asFoundSource;
};
