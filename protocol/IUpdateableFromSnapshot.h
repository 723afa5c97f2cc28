#pragma once

class TolvarenSnapshotGatherer;

// Implemented by the widgets of the card face: copy what they show out of the gatherer's
// snapshot. Called in the user-interface thread once a gathering has finished.
class IUpdateableFromSnapshot
{
public:
    virtual void UpdateFromSnapshot(TolvarenSnapshotGatherer* gatherer) = 0;

protected:
    ~IUpdateableFromSnapshot() = default;
};
