#pragma once

#include <memory>
#include <string>

#include <QString>
#include <QTimer>
#include <QWidget>

#include "async/FuturePtr.h"
#include "async/FutureThen.h"
#include "async/ReplyRelay.h"

class ModbusMasterDatalink;
class TolvarenCommsCommon;

namespace Ui {
class ConfigInfoWindow;
}

// The card's own description of its dip-switch configuration, re-read about four times a
// second while the window is open. A top-level window that deletes itself when closed and never
// keeps the application running. The datalink must outlive it: the card face parents it on the
// main window that owns the datalink.
//
// Threads: user-interface thread only. A request completes on the datalink's threads and
// reaches HandleNewData through a worker of the window's FutureThen and a queued call. Closing
// the window while the card is slow to answer does not wait for the card.
class ConfigInfoWindow : public QWidget
{
    Q_OBJECT

public:
    static const int refreshIntervalMs = 250;

    ConfigInfoWindow(ModbusMasterDatalink& datalink, QWidget* parent);
    ~ConfigInfoWindow() override;

public slots:
    void GetNextChunkOfData();
    void HandleNewData(FuturePtr<std::string>::type fut);

private:

    void RequestText();

    std::unique_ptr<Ui::ConfigInfoWindow> m_ui;
    // The text last shown; set again only when it changes, so that a selection survives.
    QString m_lastText;
    QTimer m_refreshTimer;

    // Destroyed in reverse order: the relay is closed first (in the destructor), so that the
    // delivery thread of m_calls ends without waiting for the card; then the card access object
    // cancels the request still queued; last m_calls joins its finished delivery threads.
    FutureThen m_calls;
    std::unique_ptr<TolvarenCommsCommon> m_comms;
    // The request outstanding, if any.
    std::shared_ptr<ReplyRelay<std::string>> m_relay;
};
