#include "cgi/query.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(QueryHas, Segments) {
  struct {
    const char* query;
    const char* name;
    int expect;
  } cases[] = {
      {nullptr, "action", 0},        {"", "action", 0},         {"action", "action", 1},
      {"action=", "action", 1},      {"action=x", "action", 1}, {"x=1&action&y=2", "action", 1},
      {"actions=1", "action", 0},    {"Action=1", "action", 0}, {"myaction=1", "action", 0},
      {"x=1;action=2", "action", 0}, {"x=1&", "action", 0},     {"x=action", "action", 0},
      {"&&format", "format", 1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(query_has(c.query, c.name), c.expect) << (c.query ? c.query : "(null)");
}

TEST(GetQueryVal, RawFirstValue) {
  struct {
    const char* query;
    int found;
    const char* value;
  } cases[] = {
      {nullptr, 0, ""},
      {"code", 0, ""},
      {"code=", 1, ""},
      {"code=a%20b+c", 1, "a%20b+c"},
      {"x=1&code=first&code=second", 1, "first"},
      {"codes=1&code=2", 1, "2"},
      {"code=a;b=c&d", 1, "a;b=c"},
      {"code=v&", 1, "v"},
  };
  for (const auto& c : cases) {
    char dst[16];
    strcpy(dst, "junk");
    EXPECT_EQ(get_query_val(c.query, "code", dst, sizeof dst), c.found);
    EXPECT_STREQ(dst, c.value) << (c.query ? c.query : "(null)");
  }
}

TEST(GetQueryVal, CutsToCapacity) {
  char dst[8];
  memset(dst, 'Z', sizeof dst);
  EXPECT_EQ(get_query_val("k=abcdefghij", "k", dst, 5), 1);
  EXPECT_STREQ(dst, "abcd");
  EXPECT_EQ(dst[5], 'Z');
}

TEST(ForceFlag, FirstCharacterDecides) {
  struct {
    const char* value;
    int found;
    bool expect;
  } cases[] = {{"1", 1, true},  {"yes", 1, true},    {"true", 1, true},
               {"T", 1, true},  {"Yes", 1, false},   {"", 1, false},
               {"0", 1, false}, {"false", 1, false}, {"1", 0, false}};
  for (const auto& c : cases) EXPECT_EQ(force_flag(c.value, c.found), c.expect) << c.value;
}

}  // namespace
