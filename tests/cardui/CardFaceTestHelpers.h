#pragma once

#include <QLabel>
#include <QString>
#include <QWidget>

#include <gtest/gtest.h>

#include "protocol/TolvarenSnapshotGatherer.h"
#include "tests/support/FutureWait.h"

// The text of the label called name below parent; a missing label fails the test.
inline QString Text(QWidget* parent, const char* name)
{
    auto* label = parent->findChild<QLabel*>(name);
    EXPECT_NE(label, nullptr) << name;
    return label ? label->text() : QString();
}

inline void Gather(TolvarenSnapshotGatherer& gatherer)
{
    auto done = gatherer.RefreshSnapshot();
    ASSERT_TRUE(FutureWait::Ready(done));
    done.get();
}
