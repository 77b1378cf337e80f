#include "support/decimal.h"

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// The digits at *s as a negative value (so that INT64_MIN has room), held at
// limit (<= 0) once past it; *s moves past them all.
int64_t negated_digits(const char** s, int64_t limit) {
  int64_t acc = 0;
  for (; is_digit(**s); (*s)++) {
    int d = **s - '0';
    acc = acc < limit / 10 || acc * 10 < limit + d ? limit : acc * 10 - d;
  }
  return acc;
}

}  // namespace

int64_t decimal_prefix(const char* s, int64_t lowest, int64_t highest) {
  if (s == nullptr) return 0;
  while (*s == ' ' || (*s >= '\t' && *s <= '\r')) s++;
  bool neg = *s == '-';
  if (*s == '+' || *s == '-') s++;
  int64_t acc = negated_digits(&s, neg ? lowest : -highest);
  return neg ? acc : -acc;
}

bool decimal_digits(const char* s, int64_t highest, int64_t* value) {
  if (s == nullptr || !is_digit(*s)) return false;
  int64_t acc = negated_digits(&s, -highest);
  if (*s != '\0') return false;
  *value = -acc;
  return true;
}
