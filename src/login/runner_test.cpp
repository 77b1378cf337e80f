#include "login/runner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

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
#endif
  for (const auto& c : cases) EXPECT_EQ(quote(c.value, c.cap), c.quoted) << c.value;
}

buf captured(const std::string& bytes) {
  buf b{};
  buf_add(&b, bytes.data(), bytes.size());
  return b;
}

TEST(LastJsonLine, FindsTheLastLineStartingWithABrace) {
  struct {
    std::string capture;
    const char* reply;  // the rest of the capture from the reply, or null
  } cases[] = {
      {"progress\n{\"ok\":true}", "{\"ok\":true}"},
      {"{\"a\":1}\n{\"b\":2}\ndone", "{\"b\":2}\ndone"},
      {"{\"only\":1}\nmore text", "{\"only\":1}\nmore text"},
      {"  {\"a\":1}", nullptr},
      {"", nullptr},
      {"{\"a\":1}\r\n{\"b\":2}", "{\"b\":2}"},
      {"x{\"a\":1}", nullptr},
  };
  for (const auto& c : cases) {
    buf b = captured(c.capture);
    const char* line = last_json_line(&b);
    if (c.reply == nullptr) {
      EXPECT_EQ(line, nullptr) << c.capture;
    } else {
      ASSERT_NE(line, nullptr) << c.capture;
      EXPECT_STREQ(line, c.reply);
    }
    buf_free(&b);
  }
  buf empty{};
  EXPECT_EQ(last_json_line(&empty), nullptr);
}

#ifndef _WIN32
// Runs a tiny shell script as the tool.
struct script_tool {
  std::string path;
  explicit script_tool(const std::string& body) {
    char tmpl[] = "/tmp/runner-test-XXXXXX";
    int fd = mkstemp(tmpl);
    path = tmpl;
    std::string text = "#!/bin/sh\n" + body + "\n";
    EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
    chmod(path.c_str(), 0755);
  }
  ~script_tool() { unlink(path.c_str()); }
};

TEST(RunCapture, CapturesAndStripsTrailingWhiteSpace) {
  script_tool tool("printf 'progress\\n{\"ok\":true}\\r\\n \\t\\n'; echo oops >&2; exit 3");
  buf out{};
  EXPECT_EQ(run_capture(tool.path.c_str(), "", &out), 1);
  EXPECT_EQ(std::string(out.data, out.len), "progress\n{\"ok\":true}");
  buf_free(&out);
}

TEST(RunCapture, PassesTheArgumentLine) {
  script_tool tool("for a in \"$@\"; do printf '[%s]' \"$a\"; done");
  buf out{};
  EXPECT_EQ(run_capture(tool.path.c_str(), "--status --name \"a b\"", &out), 1);
  EXPECT_EQ(std::string(out.data, out.len), "[--status][--name][a b]");
  buf_free(&out);
}

TEST(RunCapture, NotOnThisNodeAndNotStarted) {
  buf out{};
  EXPECT_EQ(run_capture("/nonexistent/quorin-tool", "--status", &out), -1);
  EXPECT_EQ(out.data, nullptr);
  EXPECT_EQ(run_capture("", "--status", &out), 0);
  EXPECT_EQ(run_capture(nullptr, "", &out), 0);
  EXPECT_EQ(out.data, nullptr);
}

TEST(RunCapture, StopsAt256KiB) {
  // 300 lines of 1000 bytes: the capture keeps whole pieces up to the bound.
  script_tool tool("i=0; while [ $i -lt 300 ]; do printf '%0999d\\n' 0; i=$((i+1)); done");
  buf out{};
  EXPECT_EQ(run_capture(tool.path.c_str(), "", &out), 1);
  EXPECT_EQ(out.len, 262u * 1000 - 1);  // the last kept line lost its line feed
  buf_free(&out);
}

TEST(RunCapture, NoOutputStillRan) {
  script_tool tool("exit 0");
  buf out{};
  EXPECT_EQ(run_capture(tool.path.c_str(), "", &out), 1);
  EXPECT_EQ(last_json_line(&out), nullptr);
  buf_free(&out);
}

#endif  // _WIN32

}  // namespace
