#pragma once

#include <string>

// Port up/down reports of AutoReconnectSerialComms to its owner (the main window).
// Called on whatever thread drives the comms at that moment, with the comms' lock held:
// return quickly and never call back into the comms from inside.
class IAutoReconnectSerialCommsFeedback
{
public:
    // A port was opened and is now in use (a substitute interface reports 0).
    virtual void OnCommsUp(int currCommPort) { (void)currCommPort; }
    // The port in use was closed; reasonMsg is empty when another port or a substitute was chosen.
    virtual void OnCommsDown(int previousCommPort, const std::string& reasonMsg)
    {
        (void)previousCommPort;
        (void)reasonMsg;
    }
    // An error that retrying does not cure; msg is the whole text for the user.
    virtual void HandleIrrecoverableCommsError(const std::string& msg) { (void)msg; }

protected:
    ~IAutoReconnectSerialCommsFeedback() = default;
};
