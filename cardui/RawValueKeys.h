#pragma once

// Whether Shift and R are both held down right now, anywhere in the application: the point rows
// then show raw register values. Shift comes from Qt's record of the modifiers; R is recorded by
// an event filter on the application object, installed by InstallRawValueKeyWatcher().
//
// User-interface thread only.
bool AreRawValueKeysHeld();

// Idempotent; needs a running QCoreApplication. Called by the first point row.
void InstallRawValueKeyWatcher();
