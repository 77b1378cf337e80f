#include "tool/runner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "test_support.h"

#ifdef _WIN32
#include <filesystem>
#include <fstream>
#else
#include <unistd.h>
#endif

namespace {

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

// A status read's run has 10 s at most, within the request's deadline.
TEST(ToolTimeout, ReadsWholeSecondsElse45) {
  struct {
    const char* value;  // null: unset
    int seconds, status_seconds;
  } cases[] = {
      {nullptr, 45, 10}, {"", 45, 10},    {"0", 0, 10},         {"7", 7, 7},
      {"045", 45, 10},   {"abc", 45, 10}, {"-1", 45, 10},       {" 5", 45, 10},
      {"5s", 45, 10},    {"2.5", 45, 10}, {"86400", 86400, 10}, {"99999999999", 1000000, 10},
      {"10", 10, 10},    {"1", 1, 1},
  };
  for (const auto& c : cases) {
    set_env("QUORIN_TOOL_TIMEOUT", c.value);
    EXPECT_EQ(tool_timeout(), c.seconds) << (c.value ? c.value : "(unset)");
    EXPECT_EQ(status_timeout(), c.status_seconds) << (c.value ? c.value : "(unset)");
  }
  set_env("QUORIN_TOOL_TIMEOUT", nullptr);
}

#ifndef _WIN32

class Runner : public ::testing::Test {
 protected:
  void SetUp() override { tool_budget_start_ms(0); }
  test_folder dir_;
};

TEST_F(Runner, WhatARunGives) {
  using enum tool_outcome;
  tool_args none, spaced;
  status_args("a b", &spaced);
  struct {
    const char* what;
    std::string body;  // the tool's script; "" for the tool names below
    std::string tool;  // when there is no script
    const tool_args* args;
    int64_t budget_ms;
    tool_outcome outcome;
    const char* capture;  // null: none kept (freed, or never started)
  } cases[] = {
      {"reply, stderr, exit status",
       "printf 'progress\\n{\"ok\":true}\\r\\n \\t\\n'; echo oops >&2; exit 3", "", &none, 0,
       replied, "progress\n{\"ok\":true}"},
      {"words as they stand", "printf '{'; for a in \"$@\"; do printf '[%s]' \"$a\"; done", "",
       &spaced, 0, replied, "{[--status][--name][a b]"},
      {"no output", "exit 0", "", &none, 0, exited, nullptr},
      {"output without a reply", "echo progress", "", &none, 0, exited, nullptr},
      {"not on this node", "", "/nonexistent/quorin-tool", &none, 0, not_found, nullptr},
      {"no name", "", "", &none, 0, not_found, nullptr},
      {"a wrapper whose program is missing", "exit 127", "", &none, 0, not_found, nullptr},
      // The bound at its edge: pieces are counted up to a line feed or 2047 bytes.
      {"exactly 256 KiB, the reply last",
       "head -c 262131 /dev/zero | tr '\\0' x; echo; echo '{\"ok\":true}'", "", &none, 0, replied,
       "<262143 bytes>"},
      {"one byte more: cut before the reply",
       "head -c 262132 /dev/zero | tr '\\0' x; echo; echo '{\"ok\":true}'", "", &none, 0,
       output_cut, nullptr},
      {"a whole reply, then hung", "echo '{\"ok\":true}'; exec sleep 5", "", &none, 500, replied,
       "{\"ok\":true}"},
      {"half a reply, then hung", "printf '{\"ok\":tr'; exec sleep 5", "", &none, 500, timed_out,
       nullptr},
      {"a whole reply, then killed", "echo '{\"ok\":true}'; kill -9 $$", "", &none, 0, killed,
       nullptr},
      {"a whole reply, then lingering", "echo '{\"ok\":true}'; exec >&-; exec sleep 5", "", &none,
       500, replied, "{\"ok\":true}"},
      {"whole output without a reply, then lingering", "echo progress; exec >&-; exec sleep 5", "",
       &none, 100, timed_out, nullptr},
  };
  for (const auto& c : cases) {
    std::string tool = c.body.empty() ? c.tool : dir_.script("tool", c.body);
    tool_budget_start_ms(c.budget_ms);
    buf out{};
    tool_run run = start_capture(tool.c_str(), *c.args);
    EXPECT_EQ(finish_capture(&run, &out), c.outcome) << c.what;
    EXPECT_EQ(run.outcome, c.outcome) << c.what;
    std::string got = out.data == nullptr ? "<nothing>" : std::string(out.data, out.len);
    if (got.size() > 1000) got = "<" + std::to_string(got.size()) + " bytes>";
    EXPECT_EQ(got, c.capture != nullptr ? c.capture : "<nothing>") << c.what;
    buf_free(&out);
  }
}

// All the runs of a request share its deadline; a run may have a bound of
// its own within it.
TEST_F(Runner, OneDeadlineForTheRequest) {
  std::string hung = dir_.script("hung", "exec sleep 5");
  std::string marks = dir_.script("marks", "echo ran >" + dir_.at("ran") + "; echo '{}'");
  tool_args none;
  tool_budget_start_ms(150);
  int64_t t0 = monotonic_ms();
  tool_run first = start_capture(hung.c_str(), none, 1);
  EXPECT_EQ(first.seconds, 1) << "150 ms, rounded up";
  buf out{};
  EXPECT_EQ(finish_capture(&first, &out), tool_outcome::timed_out);
  EXPECT_EQ(run_capture(marks.c_str(), none, &out), tool_outcome::no_time);
  int64_t took = monotonic_ms() - t0;
  EXPECT_GE(took, 150);
  EXPECT_LT(took, 1500) << "the second run was not given time of its own";
  EXPECT_FALSE(std::filesystem::exists(dir_.at("ran"))) << "a run with no time left was started";
  tool_budget_start_ms(5000);
  t0 = monotonic_ms();
  tool_run bounded = start_capture(hung.c_str(), none, 1);
  EXPECT_EQ(bounded.seconds, 1);
  EXPECT_EQ(finish_capture(&bounded, &out), tool_outcome::timed_out);
  EXPECT_LT(monotonic_ms() - t0, 2500) << "its own 1 s, not the request's 5 s";
  EXPECT_EQ(out.len, 0u);
  buf_free(&out);
}

// A run started and never finished must not leave its tool behind.
TEST_F(Runner, UnfinishedRunEndsItsTool) {
  std::string tool = dir_.script("tool", "echo $$ >" + dir_.at("pid") + "; exec sleep 60");
  tool_args none;
  long pid = 0;
  {
    tool_run run = start_capture(tool.c_str(), none);
    ASSERT_NE(run.proc, nullptr);
    for (int i = 0; i < 300 && !(std::ifstream(dir_.at("pid")) >> pid); i++) usleep(10000);
    tool_run moved = std::move(run);
    EXPECT_EQ(run.proc, nullptr);
  }
  ASSERT_NE(pid, 0);
  EXPECT_FALSE(pid_alive(pid));
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

tool_args words(std::initializer_list<const char*> list, bool quoted = false) {
  tool_args args;
  for (const char* w : list) {
    args.quoted[args.count] = quoted;
    args.word[args.count++] = w;
  }
  return args;
}

// cmd /c drops the first and the last quote of a line holding more than two,
// so a quoted argument would cost the tool its name.
TEST(RunCapture, ArgumentLineWithQuotesReachesTheTool) {
  batch_tool tool("echo {[%~1][%~2][%~3]");
  tool_args args;
  status_args("a b", &args);
  args.quoted[2] = true;
  buf out{};
  EXPECT_EQ(run_capture(tool.path.c_str(), args, &out), tool_outcome::replied);
  EXPECT_EQ(std::string(out.data ? out.data : "", out.len), "{[--status][--name][a b]");
  buf_free(&out);
}

// Read in text mode, the output would end at 0x1A and lose its CRs.
TEST(RunCapture, OutputArrivesByteForByte) {
  batch_tool tool("type \"%~dp0data.bin\"", "progress \x1a\r\n{\"ok\":true}\r\n");
  buf out{};
  EXPECT_EQ(run_capture(tool.path.c_str(), words({}), &out), tool_outcome::replied);
  EXPECT_EQ(std::string(out.data ? out.data : "", out.len), "progress \x1a\r\n{\"ok\":true}");
  buf_free(&out);
}

TEST(RunCapture, NotOnThisNodeAndNotRun) {
  batch_tool exits("exit /b 3");  // ran, whatever its exit code
  buf out{};
  EXPECT_EQ(run_capture(exits.path.c_str(), words({"--status"}), &out), tool_outcome::exited);
  // cmd answers a missing command with exit code 9009.
  EXPECT_EQ(run_capture("C:\\nonexistent\\quorin-tool.exe", words({"--status"}), &out),
            tool_outcome::not_found);
  EXPECT_EQ(run_capture("C:\\nonexistent\\quorin-tool.exe", words({"--name", "a"}, true), &out),
            tool_outcome::not_found);
  // cmd would read a variable in it, inside quotes or not.
  EXPECT_EQ(run_capture(exits.path.c_str(), words({"%PATH%"}, true), &out), tool_outcome::refused);
  EXPECT_EQ(out.data, nullptr);
}

#endif  // _WIN32

}  // namespace
