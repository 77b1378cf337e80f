#include "support/decimal.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

constexpr int64_t kMin = INT64_MIN, kMax = INT64_MAX;

TEST(DecimalPrefix, ReadsLikeTheCRuntimeAndHoldsTheBounds) {
  struct {
    const char* text;
    int64_t lowest, highest, value;
  } cases[] = {
      {nullptr, kMin, kMax, 0},
      {"", kMin, kMax, 0},
      {"abc", kMin, kMax, 0},
      {" \t\n\v\f\r42", kMin, kMax, 42},
      {"+7", kMin, kMax, 7},
      {"-7", kMin, kMax, -7},
      {"-7", 0, kMax, 0},
      {"- 5", kMin, kMax, 0},
      {"+-5", kMin, kMax, 0},
      {"12abc", kMin, kMax, 12},
      {"1 2", kMin, kMax, 1},
      {"9223372036854775807", kMin, kMax, kMax},
      {"9223372036854775808", kMin, kMax, kMax},
      {"-9223372036854775807", kMin, kMax, kMin + 1},
      {"-9223372036854775808", kMin, kMax, kMin},
      {"-99999999999999999999999", kMin, kMax, kMin},
      {"0016777215", 0, 16777216, 16777215},
      {"16777217", 0, 16777216, 16777216},
      {"99999999999999999999999", 0, 16777216, 16777216},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(decimal_prefix(c.text, c.lowest, c.highest), c.value)
        << (c.text ? c.text : "(null)") << " within " << c.lowest << ".." << c.highest;
  }
}

TEST(DecimalDigits, OnlyDigitsAndHoldsTheBound) {
  struct {
    const char* text;
    bool whole;
    int64_t value;  // when whole
  } cases[] = {
      {nullptr, false, 0},
      {"", false, 0},
      {"0", true, 0},
      {"045", true, 45},
      {" 5", false, 0},
      {"5 ", false, 0},
      {"+5", false, 0},
      {"-1", false, 0},
      {"2.5", false, 0},
      {"5s", false, 0},
      {"999999", true, 999999},
      {"1000001", true, 1000000},
      {"99999999999999999999999", true, 1000000},
  };
  for (const auto& c : cases) {
    int64_t value = -1;
    EXPECT_EQ(decimal_digits(c.text, 1000000, &value), c.whole) << (c.text ? c.text : "(null)");
    if (c.whole) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

}  // namespace
