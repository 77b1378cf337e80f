#include "login/code.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string cleaned(const std::string& pasted) {
  char text[kCodeCap];
  snprintf(text, sizeof text, "%s", pasted.c_str());
  clean_code(text);
  return text;
}

TEST(CleanCode, RecoversTheCode) {
  struct {
    std::string pasted;
    std::string code;
  } cases[] = {
      {"abc123", "abc123"},
      {"abc123%0A", "abc123"},
      {"abc123\r\n", "abc123"},
      {" abc", " abc"},
      {"http://127.0.0.1/callback?code=XYZ&state=s1", "XYZ"},
      {"http%3A%2F%2Fh%2Fcb%3Fcode%3DXYZ%26state%3Ds", "XYZ"},
      {"https://h/cb?code=XYZ#frag", "XYZ"},
      {"XYZ#state123", "XYZ"},
      {"a%2Bb+c", "a+b c"},
      {"abc%", "abc%"},
      {"abc%4", "abc%4"},
      {"abc%zz", "abc%zz"},
      {"ab%00cd", "ab"},
      {"https://h/cb?code=", "https://h/cb?code="},
      {"https://h/cb?code=a$b&x=1", "https://h/cb?code=a$b&x=1"},
      {"code=abc#def&code=zzz", "abc"},
  };
  for (const auto& c : cases) EXPECT_EQ(cleaned(c.pasted), c.code) << c.pasted;
}

TEST(CodeValid, RefusesShellCharacters) {
  std::string ok_bytes = " !#()*+,/:=?@[]^{}~azAZ09-._\x80\xff";
  EXPECT_EQ(code_valid(ok_bytes.c_str()), 1);
  EXPECT_EQ(code_valid(std::string(2048, 'a').c_str()), 1);
  EXPECT_EQ(code_valid(std::string(2049, 'a').c_str()), 0);
  EXPECT_EQ(code_valid(""), 0);
  for (const char* bad : {"\"", "$", "&", "'", ";", "<", ">", "\\", "`", "|", "%", "\x01", "\x1f",
                          "\x7f", "\t", "\n"}) {
    EXPECT_EQ(code_valid((std::string("ab") + bad + "cd").c_str()), 0) << int(bad[0]);
  }
}

}  // namespace
