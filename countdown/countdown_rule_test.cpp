#include "countdown/countdown_rule.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

TEST(CountdownSeconds, LastWordOfDigitsFrom1To9999ElseNone) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"PWRCOUNT.exe 60", 60}, {"\"C:\\Program Files\\ORVEL\\PWRCOUNT.exe\" 1", 1},
      {"PWRCOUNT.exe 9999", 9999}, {"PWRCOUNT.exe /q 30", 30}, {"PWRCOUNT.exe\t0045  ", 45},
      {"PWRCOUNT.exe", 0}, {"PWRCOUNT.exe ", 0}, {"", 0}, {"PWRCOUNT.exe 0", 0},
      {"PWRCOUNT.exe 10000", 0}, {"PWRCOUNT.exe 4294967356", 0},  // 2^32 + 60 must not wrap
      {"PWRCOUNT.exe sixty", 0}, {"PWRCOUNT.exe 45s", 0}, {"PWRCOUNT.exe -5", 0},
      {"PWRCOUNT.exe 6 0", 0},
      // Digits in the program path are not the countdown.
      {"\"C:\\ORVEL 60\\PWRCOUNT.exe\"", 0}, {"\"C:\\ORVEL\\PWRCOUNT.exe\"60", 0},
      {"\"C:\\ORVEL\\PWRCOUNT.exe 60", 0},
  };
  for (const auto& [line, seconds] : cases) EXPECT_EQ(CountdownSeconds(line), seconds) << line;
}

TEST(SecondsLeft, RoundsUpAndFollowsTheClock) {
  const struct { uint32_t seconds, elapsed_ms, left; } cases[] = {
      {60, 0, 60}, {60, 1, 60}, {60, 999, 60}, {60, 1000, 59}, {60, 59001, 1},
      {60, 60000, 0}, {60, 4000000000u, 0}, {9999, 0, 9999},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SecondsLeft(c.seconds, c.elapsed_ms), c.left) << c.seconds << " " << c.elapsed_ms;
  }
}

}  // namespace
