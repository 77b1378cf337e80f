#include "support/json_valid.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(JsonValid, AcceptsJsonOnly) {
  struct {
    std::string text;
    bool valid;
  } cases[] = {
      {R"({"quorinAiOauth":{"accessToken":"a","expiresAt":1.5e3,"scopes":["x"]}})", true},
      {" \t\r\n{}\n", true},
      {R"(["\u00e9\"\\\/\b\f\n\r\t", -0, 0.5, true, false, null])", true},
      {"\"\xc3\xa9\"", true},  // bytes from 0x80 up pass
      {"", false},
      {"oops", false},
      {R"({"a":1)", false},          // cut short
      {R"({"a":1,})", false},        // trailing comma
      {R"({"a" 1})", false},         // no colon
      {R"({a:1})", false},           // bare key
      {R"({"a":01})", false},        // leading zero
      {R"({"a":1.})", false},        // no fraction digits
      {R"({"a":1e})", false},        // no exponent digits
      {R"({"a":-})", false},         // a sign alone
      {R"({"a":"\x"})", false},      // unknown escape
      {R"({"a":"\u12g4"})", false},  // bad hex
      {"{\"a\":\"x\ty\"}", false},   // raw control byte in a string
      {R"({"a":tru})", false},       // cut word
      {R"({} {})", false},           // two values
      {std::string(64, '[') + std::string(64, ']'), true},
      {std::string(65, '[') + std::string(65, ']'), false},  // deeper than 64
  };
  for (const auto& c : cases) {
    EXPECT_EQ(json_valid(c.text.data(), c.text.data() + c.text.size()), c.valid) << c.text;
  }
}

}  // namespace
