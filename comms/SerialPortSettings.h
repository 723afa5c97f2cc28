#pragma once

// How a COM port is opened. Data bits are always 8.
struct SerialPortSettings
{
    int port = 0;        // n for COMn
    int baudRate = 115200;
    int parity = 0;      // 0 none, 1 odd, 2 even
    int stopBits = 1;    // 1 or 2
};
