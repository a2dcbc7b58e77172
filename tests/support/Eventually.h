// Waits for a condition that another thread or the event loop brings about, with a generous
// bound, and reports a condition that never came as a GoogleTest failure (Qt's QTRY_ macros
// only report to Qt's own test runner, which these programs do not use).
#pragma once

#include <QTest>
#include <gtest/gtest.h>

#define EXPECT_EVENTUALLY_TIMEOUT(condition, timeoutMs)                                            \
    EXPECT_TRUE(QTest::qWaitFor([&] { return bool(condition); }, timeoutMs))                       \
        << "never came true: " #condition

#define EXPECT_EVENTUALLY(condition) EXPECT_EVENTUALLY_TIMEOUT(condition, 5000)
