#include <gtest/gtest.h>
#include "log/ring_log.h"
TEST(RingLog, Smoke) { EXPECT_EQ(FindLogKind(5), nullptr); }
