#pragma once

#include <QWidget>

#include "calibration/ui/ICardWindow.h"
#include "modbus/ModbusMasterDatalink.h"
#include "tests/calibration/ServedRig.h"

// A main window as the calibration window sees it, on one card of a served rig.
class RigCardWindow : public ICardWindow
{
public:
    explicit RigCardWindow(ModbusMasterDatalink& link) : m_link(link) {}

    QWidget* CardWindowWidget() override { return &m_widget; }
    ModbusMasterDatalink* CardDatalink() override { return &m_link; }
    void RefreshEverything() override {}
    int ConfiguredCommPort() const override { return ServedRig::cardPort; }

private:
    ModbusMasterDatalink& m_link;
    QWidget m_widget;
};
