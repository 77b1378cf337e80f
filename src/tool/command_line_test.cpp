#include "tool/command_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

std::string quote(const char* value, size_t cap) {
  char dst[64];
  memset(dst, 'Z', sizeof dst);
  shell_quote_into(value, dst, cap);
  EXPECT_EQ(dst[cap], 'Z') << "wrote past the area";
  EXPECT_LT(strlen(dst), cap);
  return dst;
}

TEST(ShellQuoteInto, WrapsEscapesAndCuts) {
  struct {
    const char* value;
    size_t cap;
    const char* quoted;
  } cases[] = {
      {"abcdefgh", 8, "\"abcde\""},
      {"abc\"e", 8, "\"abc\\\"\""},
      {nullptr, 8, "\"\""},
      {"", 3, "\"\""},
      {"ab", 3, "\"\""},
      {"a b%c", 16, "\"a b%c\""},
      {"$(id)`id`\\", 32, "\"\\$(id)\\`id\\`\\\\\""},
      {"ab$", 6, "\"ab\""},
      {"ab$", 7, "\"ab\\$\""},
  };
#ifdef _WIN32
  // The Windows shell reads only the double quote specially.
  cases[6] = {"$(id)`id`\\", 32, "\"$(id)`id`\\\""};
  cases[7] = {"ab$", 6, "\"ab$\""};
  cases[8] = {"ab$", 7, "\"ab$\""};
#endif
  for (const auto& c : cases) EXPECT_EQ(quote(c.value, c.cap), c.quoted) << c.value;
}

// The command shell's line (Windows runs it; on POSIX it is what /bin/sh
// was handed before the tools were started directly).
TEST(CommandLine, QuotesTheToolAndTheMarkedWords) {
  tool_args finish, status;
  finish_args("a$b\"c", "work", true, &finish);
  status_args("work", &status);
  const std::string fits(kQuotedToolCap - 3, 't');  // with its quotes and NUL: the whole area
  const std::string too_long = fits + "x";
  const std::string null_stderr = kNullStderr;
  struct {
    std::string tool;
    const tool_args* args;
    std::string line;  // "": not rendered
  } cases[] = {
#ifdef _WIN32
      // cmd.exe and the C runtime read a quote inside quotes each their own way.
      {"t\"x", &status, ""},
      {"tx", &finish, ""},
#else
      {"t\"x", &finish, "\"t\\\"x\" --finish \"a\\$b\\\"c\" --name \"work\" --force"},
#endif
      {fits, &status, "\"" + fits + "\" --status --name work"},
      {too_long, &status, ""},
  };
  for (const auto& c : cases) {
    char line[kLineCap];
    bool rendered = command_line(c.tool.c_str(), *c.args, line);
    EXPECT_EQ(rendered, !c.line.empty()) << c.tool.size() << " bytes";
    EXPECT_EQ(rendered ? std::string(line) : "", c.line.empty() ? "" : c.line + null_stderr);
  }
}

}  // namespace
