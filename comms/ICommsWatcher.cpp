#include "comms/ICommsWatcher.h"

ICommsWatcher NullCommsWatcher;
