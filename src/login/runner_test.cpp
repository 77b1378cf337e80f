#include "login/runner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <filesystem>
#include <fstream>
#else
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
  cases[8] = {"ab$", 7, "\"ab$\""};
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

void set_env(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value != nullptr ? value : "");
#else
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
#endif
}

TEST(ToolTimeout, ReadsWholeSecondsElse45) {
  struct {
    const char* value;  // null: unset
    int seconds;
  } cases[] = {
      {nullptr, 45}, {"", 45},    {"0", 0},         {"7", 7},
      {"045", 45},   {"abc", 45}, {"-1", 45},       {" 5", 45},
      {"5s", 45},    {"2.5", 45}, {"86400", 86400}, {"99999999999", 1000000},
  };
  for (const auto& c : cases) {
    set_env("QUORIN_TOOL_TIMEOUT", c.value);
    EXPECT_EQ(tool_timeout(), c.seconds) << (c.value ? c.value : "(unset)");
  }
  set_env("QUORIN_TOOL_TIMEOUT", nullptr);
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

bool pid_alive(const std::string& pid) {
  std::string stat_path = "/proc/" + pid + "/stat";
  FILE* f = fopen(stat_path.c_str(), "r");
  if (f == nullptr) return false;
  char text[512] = "";
  size_t n = fread(text, 1, sizeof text - 1, f);
  fclose(f);
  const char* paren = strrchr(text, ')');
  return n > 0 && !(paren != nullptr && paren[1] == ' ' && paren[2] == 'Z');
}

std::string read_text(const std::string& path) {
  std::string text;
  if (FILE* f = fopen(path.c_str(), "r")) {
    char chunk[256];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, f)) > 0;) text.append(chunk, n);
    fclose(f);
  }
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// A run started and never finished must not leave its tool behind.
TEST(RunCapture, UnfinishedRunEndsItsTool) {
  std::string pid_file = "/tmp/runner-test-pid-" + std::to_string(getpid());
  script_tool tool("echo $$ > " + pid_file + "; exec sleep 60");
  {
    tool_run run = start_capture(tool.path.c_str(), "");
    ASSERT_TRUE(run.running);
    for (int i = 0; i < 300 && read_text(pid_file).empty(); i++) usleep(10000);
    tool_run moved = std::move(run);
    EXPECT_FALSE(run.running);
  }
  std::string pid = read_text(pid_file);
  unlink(pid_file.c_str());
  ASSERT_FALSE(pid.empty());
  EXPECT_FALSE(pid_alive(pid));
}

TEST(RunCapture, DeadlineDropsTheOutput) {
  set_env("QUORIN_TOOL_TIMEOUT", "1");
  script_tool tool("echo '{\"ok\":true}'; exec sleep 60");
  tool_run run = start_capture(tool.path.c_str(), "");
  buf out{};
  EXPECT_EQ(finish_capture(&run, &out), 1);
  EXPECT_TRUE(run.timed_out);
  EXPECT_EQ(out.len, 0u);
  buf_free(&out);
  set_env("QUORIN_TOOL_TIMEOUT", nullptr);
}

TEST(RunCapture, NoOutputStillRan) {
  script_tool tool("exit 0");
  buf out{};
  EXPECT_EQ(run_capture(tool.path.c_str(), "", &out), 1);
  EXPECT_EQ(last_json_line(&out), nullptr);
  buf_free(&out);
}

#else  // _WIN32

// A batch file as the tool, in a folder whose name cmd.exe would read
// specially outside double quotes; data.bin beside it holds raw bytes.
struct batch_tool {
  std::filesystem::path dir;
  std::string path;
  batch_tool(const std::string& body, const std::string& data = "") {
    // Named after the test: ctest runs tests side by side.
    dir = std::filesystem::temp_directory_path() /
          (std::string("runner test & (x) ^ ") +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
    path = (dir / "tool.bat").string();
    std::ofstream(path, std::ios::binary) << "@echo off\r\n" << body << "\r\n";
    std::ofstream(dir / "data.bin", std::ios::binary) << data;
  }
  ~batch_tool() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

// cmd /c drops the first and the last quote of a line holding more than two,
// so a quoted argument would cost the tool its name.
TEST(RunCapture, ArgumentLineWithQuotesReachesTheTool) {
  batch_tool tool("echo [%~1][%~2][%~3]");
  buf out{};
  EXPECT_EQ(run_capture(tool.path.c_str(), "--status --name \"a b\"", &out), 1);
  EXPECT_EQ(std::string(out.data ? out.data : "", out.len), "[--status][--name][a b]");
  buf_free(&out);
}

// Read in text mode, the output would end at 0x1A and lose its CRs.
TEST(RunCapture, OutputArrivesByteForByte) {
  batch_tool tool("type \"%~dp0data.bin\"", "progress \x1a\r\n{\"ok\":true}\r\n");
  buf out{};
  EXPECT_EQ(run_capture(tool.path.c_str(), "", &out), 1);
  EXPECT_EQ(std::string(out.data ? out.data : "", out.len), "progress \x1a\r\n{\"ok\":true}");
  buf_free(&out);
}

TEST(RunCapture, NotOnThisNodeAndNotStarted) {
  batch_tool exits("exit /b 3");  // ran, whatever its exit code
  buf out{};
  EXPECT_EQ(run_capture(exits.path.c_str(), "--status", &out), 1);
  // cmd answers a missing command with exit code 9009.
  EXPECT_EQ(run_capture("C:\\nonexistent\\quorin-tool.exe", "--status", &out), -1);
  EXPECT_EQ(run_capture("C:\\nonexistent\\quorin-tool.exe", "--name \"a\"", &out), -1);
  EXPECT_EQ(run_capture("", "--status", &out), 0);
  EXPECT_EQ(out.data, nullptr);
}

#endif  // _WIN32

}  // namespace
