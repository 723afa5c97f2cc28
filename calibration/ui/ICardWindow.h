#pragma once

class ModbusMasterDatalink;
class QWidget;

// What the calibration windows need of a main window that shows a card: the window itself, the
// Modbus link to its card, a full re-read of the card and the COM port the user set for it.
//
// Threads: the user-interface thread.
class ICardWindow
{
public:
    virtual ~ICardWindow() = default;

    virtual QWidget* CardWindowWidget() = 0;
    // Lives as long as the window.
    virtual ModbusMasterDatalink* CardDatalink() = 0;
    virtual void RefreshEverything() = 0;
    // 0 when the port is chosen automatically.
    virtual int ConfiguredCommPort() const = 0;
};
