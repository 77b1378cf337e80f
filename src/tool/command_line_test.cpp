// The command shell's line exists on Windows only; it runs under wine.
#ifdef _WIN32
#include "tool/command_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CommandLine, QuotesValuesAndRefusesWhatCmdWouldRead) {
  tool_args status, refresh, refused;
  status_args("work", &status);
  refresh_args("C:\\Users\\a b\\.quorin\\", &refresh);
  const std::string fits(kQuotedToolCap - 3, 't');  // with its quotes and NUL: the whole part
  struct {
    std::string tool;
    const tool_args* args;
    std::string line;  // "": refused
  } cases[] = {
      {"C:\\q\\login.exe", &status, "\"C:\\q\\login.exe\" --status --name work 2>NUL"},
      // A backslash before the closing quote would escape it for the C runtime.
      {"r", &refresh, "\"r\" --credentials-file \"C:\\Users\\a b\\.quorin\\\\\" --force 2>NUL"},
      {fits, &status, "\"" + fits + "\" --status --name work 2>NUL"},
      {fits + "x", &status, ""},
      {"t\"x", &status, ""},
      {"C:\\100%\\login.exe", &status, ""},
  };
  for (const auto& c : cases) {
    char line[kLineCap];
    EXPECT_EQ(command_line(c.tool.c_str(), *c.args, line), !c.line.empty()) << c.tool;
    EXPECT_EQ(std::string(line), c.line) << c.tool;
  }
  for (const char* path : {"C:\\50%off\\creds.json", "C:\\a\"b\\creds.json"}) {
    refresh_args(path, &refused);
    char line[kLineCap];
    EXPECT_FALSE(command_line("r", refused, line)) << path;
  }
}

}  // namespace
#endif
