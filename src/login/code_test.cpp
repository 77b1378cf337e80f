#include "login/code.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(ReadPasted, FindsTheCodeOrWhyThereIsNone) {
  struct {
    std::string input;
    pasted kind;
    std::string text;  // the code, or the error's name
  } cases[] = {
      {"abc123", pasted::code, "abc123"},
      {"abc123%0A", pasted::code, "abc123"},
      {"abc123\r\n", pasted::code, "abc123"},
      {" abc", pasted::code, " abc"},
      {"http://127.0.0.1/callback?code=XYZ&state=s1", pasted::code, "XYZ"},
      {"http%3A%2F%2Fh%2Fcb%3Fcode%3DXYZ%26state%3Ds", pasted::code, "XYZ"},
      {"https://h/cb?code=XYZ#frag", pasted::code, "XYZ"},
      {"XYZ#state123", pasted::code, "XYZ"},
      {"a%2Bb+c", pasted::code, "a+b c"},
      {"abc%", pasted::code, "abc%"},
      {"abc%4", pasted::code, "abc%4"},
      {"abc%zz", pasted::code, "abc%zz"},
      {"ab%00cd", pasted::code, "ab"},
      {"cb?code=", pasted::code, "cb?code="},
      {"https://h/cb?code=a$b&x=1", pasted::code, "https://h/cb?code=a$b&x=1"},
      {"code=abc#def&code=zzz", pasted::code, "abc"},
      {"https://h/cb?error=access_denied&state=s", pasted::sign_in_error, "access_denied"},
      {"https://h/cb?error_code=7&error=server_error", pasted::sign_in_error, "server_error"},
      {"error=x%3Cb%3E&code=XYZ", pasted::sign_in_error, "x"},
      {"https://h/cb#error=" + std::string(80, 'e'), pasted::sign_in_error, std::string(64, 'e')},
      {"https://h/cb?noerror=1&code=XYZ", pasted::code, "XYZ"},
      {"https://h/cb?state=s", pasted::no_code, ""},
      {"https://h/cb?code=&state=s", pasted::no_code, ""},
  };
  for (const auto& c : cases) {
    char text[kCodeCap];
    snprintf(text, sizeof text, "%s", c.input.c_str());
    pasted kind = read_pasted(text);
    EXPECT_EQ(kind, c.kind) << c.input;
    if (kind != pasted::no_code) {
      EXPECT_EQ(std::string(text), c.text) << c.input;
    }
  }
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
