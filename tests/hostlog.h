// Checks of what the emulated host recorded, shared by the activation tests
// and the end-to-end tests of the loaded module.
#ifndef CORVANE_TESTS_HOSTLOG_H
#define CORVANE_TESTS_HOSTLOG_H

#include <gtest/gtest.h>

#include "host/host.h"

// The edit was begun once and ended once, with `code`.
inline void ExpectEndedOnce(const EmuHost *host, int code)
{
    EXPECT_EQ(host->log.editsBegun, 1);
    ASSERT_EQ(host->log.doneCodes.size(), 1u);
    EXPECT_EQ(host->log.doneCodes[0], code);
}

// Exactly one message was shown: an info message with `text` on its first
// line and nothing on its second.
inline void ExpectOnlyInfo(const EmuHost *host, const char *text)
{
    ASSERT_EQ(host->log.messages.size(), 1u);
    EXPECT_FALSE(host->log.messages[0].error);
    EXPECT_EQ(host->log.messages[0].line1, text);
    EXPECT_TRUE(host->log.messages[0].line2Null || host->log.messages[0].line2.empty());
}

#endif
