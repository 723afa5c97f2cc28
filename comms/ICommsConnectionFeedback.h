#pragma once

#include <exception>

class CommsConnection;

// How a serial connection reports its failure to its owner. Called at most once per connection,
// on the connection's own I/O thread, when that thread stops on an error (never on a shutdown
// asked for by the owner). The owner may destroy the connection from inside the call.
class ICommsConnectionFeedback
{
public:
    virtual void OnConnectionError(CommsConnection* connection, const std::exception& error) = 0;
};
