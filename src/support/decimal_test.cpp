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

TEST(DecimalDigits, RefusesAllButDigits) {
  for (const char* text :
       {static_cast<const char*>(nullptr), "", " 5", "5 ", "+5", "-1", "2.5", "5s", "0x1"}) {
    int64_t value = -1;
    EXPECT_FALSE(decimal_digits(text, 1000000, &value)) << (text ? text : "(null)");
  }
}

TEST(DecimalDigits, ReadsAndHoldsTheBound) {
  struct {
    const char* text;
    int64_t value;
  } cases[] = {{"0", 0},
               {"045", 45},
               {"999999", 999999},
               {"1000001", 1000000},
               {"99999999999999999999999", 1000000}};
  for (const auto& c : cases) {
    int64_t value = -1;
    EXPECT_TRUE(decimal_digits(c.text, 1000000, &value)) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}

}  // namespace
