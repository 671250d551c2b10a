#include <gtest/gtest.h>
#include <windows.h>
TEST(Harness, Runs) { EXPECT_NE(GetCurrentProcessId(), 0u); }
TEST(Harness, Death) { EXPECT_DEATH(__builtin_trap(), ""); }
