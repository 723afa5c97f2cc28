#pragma once

#include <string>

#include <QDateTime>
#include <QString>

class TolvarenCommsCommon;

// The copy of a card's configuration image that is kept before a restore overwrites it, so that
// restoring a wrong file can be undone: <app data>/ConfigBackups/<serial>_<yyyyMMdd-HHmmss-zzz>.dat
// (the application's local data folder, so the window and the command line keep them together).
//
// Threads: Keep blocks on the card; call it from the thread that drives the comms object, never
// from a thread the datalink needs for its replies.
class CardConfigSafetyCopy
{
public:
    static QString Folder();
    static QString FileName(unsigned serialNumber, const QDateTime& when);

    // Reads the card's image and serial number and stores the image in Folder(), whole or not at
    // all. Returns the file's path. Card errors pass through with their types; a file that cannot
    // be written throws FileWriteError "Cannot write to file: <path>".
    static QString Keep(TolvarenCommsCommon& comms);
};
