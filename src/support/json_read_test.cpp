#include "support/json_read.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const char* end_of(const std::string& s) {
  return s.c_str() + s.size();
}

const char* find(const std::string& s, const char* key) {
  return json_find_key(s.c_str(), end_of(s), key);
}

std::string str(const std::string& s, const char* key, int* result = nullptr, size_t cap = 64) {
  char out[4096];
  strcpy(out, "untouched");
  int r = json_str_field(s.c_str(), end_of(s), key, out, cap);
  if (result) *result = r;
  return out;
}

TEST(JsonFindKey, Structure) {
  struct {
    std::string text;
    const char* key;
    const char* value;  // the text at the value, or null when not found
  } cases[] = {
      {R"({"a":{"b":1},"b":2})", "b", "2}"},
      {R"({"x":"b","b":true})", "b", "true}"},
      {R"(  {"k" : 5})", "k", "5}"},
      {R"([{"k":1}])", "k", nullptr},
      {R"({"a":1}{"k":2})", "k", "2}"},
      {R"({"k":})", "k", "}"},
      {"   \t\r\n", "k", nullptr},
      {"", "k", nullptr},
      {R"({"s":"{\"k\":1}","k":3})", "k", "3}"},
      {R"({"K":1})", "k", nullptr},
      {R"({"\u006b":7})", "k", "7}"},
      {R"({"k"   )", "k", nullptr},
      {R"({"k":   )", "k", nullptr},
      {R"({"kk":1,"k":2})", "k", "2}"},
      {"\"k\":9)", "k", "9)"},
      {R"({"unterminated)", "k", nullptr},
  };
  for (const auto& c : cases) {
    const char* v = find(c.text, c.key);
    if (c.value == nullptr) {
      EXPECT_EQ(v, nullptr) << c.text;
    } else {
      ASSERT_NE(v, nullptr) << c.text;
      EXPECT_STREQ(v, c.value) << c.text;
    }
  }
  EXPECT_EQ(json_find_key(nullptr, nullptr, "k"), nullptr);
}

TEST(JsonFindKey, StopsAtTheEndPointer) {
  std::string s = R"({"a":1,"k":2})";
  EXPECT_EQ(json_find_key(s.c_str(), s.c_str() + 7, "k"), nullptr);
  EXPECT_NE(json_find_key(s.c_str(), end_of(s), "k"), nullptr);
}

TEST(JsonReadStringAt, Escapes) {
  struct {
    std::string in, out;
  } cases[] = {
      {R"("a\"b\/c")", "a\"b/c"},
      {R"("\b\f\n\r\t\q\\")", "\b\f\n\r\tq\\"},
      {R"("\u0041\u00e9\u2014")", "A\xc3\xa9\xe2\x80\x94"},
      {R"("\ud83d\ude00!")", "\xf0\x9f\x98\x80!"},
      {R"("\ud83dx")", "\xef\xbf\xbdx"},
      {R"("\ude00")", "\xef\xbf\xbd"},
      {R"("\ud83d\u0041")",
       "\xef\xbf\xbd"
       "A"},
      {R"("\u41g")", "Ag"},
      {R"("\u00")", ""},
      {R"("a\u0000b")", "a"},
      {R"("a\ub")", "a\x0b"},
      {R"("a\uzz")", "a"},
      {"\"raw\x01\xff\"", "raw\x01\xff"},
      {"\"unterminated", "unterminated"},
      {"\"trailing\\", "trailing\\"},
  };
  for (const auto& c : cases) {
    char out[64];
    const char* cur = c.in.c_str();
    ASSERT_EQ(json_read_string_at(&cur, out, sizeof out), 1) << c.in;
    EXPECT_EQ(std::string(out), c.out) << c.in;
  }
}

TEST(JsonReadStringAt, CursorAndRefusal) {
  std::string s = R"("ab"x)";
  const char* cur = s.c_str();
  char out[8];
  ASSERT_EQ(json_read_string_at(&cur, out, sizeof out), 1);
  EXPECT_STREQ(cur, "x");
  strcpy(out, "keep");
  EXPECT_EQ(json_read_string_at(&cur, out, sizeof out), 0);
  EXPECT_STREQ(cur, "x");
  EXPECT_STREQ(out, "keep");
  std::string open = "\"ab";
  cur = open.c_str();
  json_read_string_at(&cur, out, sizeof out);
  EXPECT_EQ(*cur, '\0');
  EXPECT_EQ(json_read_string_at(nullptr, out, sizeof out), 0);
}

TEST(JsonReadStringAt, CutsWithoutSplittingACharacter) {
  struct {
    std::string in;
    size_t cap;
    std::string out;
  } cases[] = {
      {R"("abcdefghij")", 8, "abcdefg"},
      {R"("abcdef\u00e9")", 8, "abcdef"},  // two bytes, one place left
      {R"("abcde\u00e9x")", 8, "abcde\xc3\xa9"},
      {R"("ab\u2014cd")", 5, "ab"},
      {R"("abc")", 1, ""},
  };
  for (const auto& c : cases) {
    char out[16];
    memset(out, 'Z', sizeof out);
    const char* cur = c.in.c_str();
    json_read_string_at(&cur, out, c.cap);
    EXPECT_EQ(std::string(out), c.out) << c.in;
    EXPECT_EQ(out[c.cap], 'Z') << "wrote past the area: " << c.in;
    EXPECT_EQ(*cur, '\0') << "decoding goes on to the end: " << c.in;
  }
}

TEST(JsonStrField, Values) {
  struct {
    std::string text;
    int result;
    std::string out;
  } cases[] = {
      {R"({"k":""})", 1, ""},
      {R"({"k":"abc"})", 1, "abc"},
      {R"({"k": 600 })", 1, "600"},
      {R"({"k":600,"x":1})", 1, "600"},
      {R"({"k":true})", 1, "true"},
      {R"({"k":[1,2]})", 1, "[1"},
      {R"({"k":})", 0, ""},
      {R"({"k":null})", 0, "untouched"},
      {R"({"k":nope})", 0, "untouched"},
      {R"({"x":1})", 0, "untouched"},
      {R"({"k":"a\"b\/c"})", 1, "a\"b/c"},
  };
  for (const auto& c : cases) {
    int r = -1;
    EXPECT_EQ(str(c.text, "k", &r), c.out) << c.text;
    EXPECT_EQ(r, c.result) << c.text;
  }
  int r = 0;
  EXPECT_EQ(str(R"({"k":"abcdefghij"})", "k", &r, 8), "abcdefg");
  EXPECT_EQ(r, 1);
  EXPECT_EQ(str(R"({"k":1234567890})", "k", &r, 8), "1234567");
}

TEST(JsonBoolField, Prefixes) {
  struct {
    const char* value;
    int expect;
  } cases[] = {
      {"true", 1},      {"\"true\"", 1}, {"1", 1},     {"\"1\"", 1}, {"10", 1},
      {"1.5", 1},       {"trueish", 1},  {"false", 0}, {"0", 0},     {"\"yes\"", 0},
      {"\"false\"", 0}, {"null", 0},     {"tru", 0},   {"2", 0},     {"\"", 0},
  };
  for (const auto& c : cases) {
    std::string s = std::string("{\"k\":") + c.value + "}";
    EXPECT_EQ(json_bool_field(s.c_str(), end_of(s), "k", 1), c.expect) << c.value;
  }
  std::string absent = R"({"x":true})";
  EXPECT_EQ(json_bool_field(absent.c_str(), end_of(absent), "k", 1), 1);
  EXPECT_EQ(json_bool_field(absent.c_str(), end_of(absent), "k", 0), 0);
}

TEST(JsonNumField, Values) {
  struct {
    const char* value;
    int64_t expect;
  } cases[] = {
      {"-5", -5},
      {"3.9", 3},
      {"true", 0},
      {"1767225600000", 1767225600000},
      {"\"1767225600000\"", 1767225600000},
      {" +12", 12},
      {"\" -7\"", -7},
      {"--1", 0},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"99999999999999999999", INT64_MAX},
      {"-99999999999999999999", INT64_MIN},
  };
  for (const auto& c : cases) {
    std::string s = std::string("{\"k\":") + c.value + "}";
    EXPECT_EQ(json_num_field(s.c_str(), end_of(s), "k"), c.expect) << c.value;
  }
  std::string absent = R"({"x":5})";
  EXPECT_EQ(json_num_field(absent.c_str(), end_of(absent), "k"), 0);
}

TEST(TrimTail, StripsOnlyTheFourBlanks) {
  struct {
    const char* in;
    const char* out;
  } cases[] = {{"abc \t\r\n", "abc"}, {"  ", ""},      {"", ""},
               {"a\v", "a\v"},        {"a\f ", "a\f"}, {" lead", " lead"}};
  for (const auto& c : cases) {
    char s[32];
    strcpy(s, c.in);
    trim_tail(s);
    EXPECT_STREQ(s, c.out);
  }
}

}  // namespace
