#pragma once

// Observer of a serial connection's raw traffic. Both calls run on the connection's I/O thread;
// data is valid only during the call.
class ICommsWatcher
{
public:
    virtual void OnBytesTransmitted(const unsigned char* data, unsigned length)
    {
        (void)data;
        (void)length;
    }
    virtual void OnBytesReceived(const unsigned char* data, unsigned length)
    {
        (void)data;
        (void)length;
    }
    virtual ~ICommsWatcher() = default;
};

// Stands in wherever no watcher is set, so callers never test for null.
extern ICommsWatcher NullCommsWatcher;
