#pragma once

#include "calibration/CalibBoardLink.h"

// The calibration board's own operations over a link it holds. Threads as CalibBoardLink.
class CalibBoard
{
public:
    // Opens the link on COM<port> (see CalibBoardLink).
    explicit CalibBoard(int port);

    // The board software version; throws when the reply payload is not exactly one byte.
    unsigned char GetVersion();

    // Connects the reference selected by pathCode and selection to the input of the card under
    // test, and nothing to every other input. Each value must fit in a byte, checked in the
    // order input, path code, selection before anything is sent.
    void SetConfig(unsigned input, unsigned pathCode, unsigned selection);

    CalibBoardLink& Link() { return m_link; }

private:
    CalibBoardLink m_link;
};
