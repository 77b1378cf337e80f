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
      {" \t\n\v\f\r42", kMin, kMax, 42},
      {"+7", kMin, kMax, 7},
      {"-7", kMin, kMax, -7},
      {"-7", 0, kMax, 0},
      {"- 5", kMin, kMax, 0},
      {"12abc", kMin, kMax, 12},
      {"9223372036854775808", kMin, kMax, kMax},
      {"-9223372036854775808", kMin, kMax, kMin},
      {"-99999999999999999999999", kMin, kMax, kMin},
      {"0016777215", 0, 16777216, 16777215},
      {"16777217", 0, 16777216, 16777216},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(decimal_prefix(c.text, c.lowest, c.highest), c.value)
        << (c.text ? c.text : "(null)") << " within " << c.lowest << ".." << c.highest;
  }
}

// Digits only, held at the bound (tool_timeout's test reads more through it).
TEST(DecimalDigits, DigitsOnlyHeldAtTheBound) {
  struct {
    const char* text;
    bool whole;
    int64_t value;
  } cases[] = {{"+5", false, -1},
               {"5 ", false, -1},
               {"0x1", false, -1},
               {"999999", true, 999999},
               {"1000001", true, 1000000}};
  for (const auto& c : cases) {
    int64_t value = -1;
    EXPECT_EQ(decimal_digits(c.text, 1000000, &value), c.whole) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}

}  // namespace
