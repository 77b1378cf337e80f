// For many random values that pass the checks made before a tool runs, the
// words a tool is started with are the values, byte for byte, and nothing
// else runs (POSIX: no shell between).
#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "cgi/query.h"
#include "login/code.h"
#include "platform/platform.h"
#include "test_support.h"
#include "tool/runner.h"
#include "tool/tool_args.h"

namespace {

using words = std::vector<std::string>;

class QuotingProperty : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("quoting-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    log_ = (dir_ / "calls.log").string();
    marker_ = (dir_ / "ran").string();
    setenv("FAKE_LOG", log_.c_str(), 1);
    tool_budget_start_ms(0);
  }
  void TearDown() override {
    unsetenv("FAKE_LOG");
    std::filesystem::remove_all(dir_);
  }

  // The words the tool received, or a note when it did not run once.
  words logged() {
    auto runs = read_fake_log(log_);
    std::filesystem::remove(log_);
    return runs.size() == 1 ? runs[0] : words{"<not run once>"};
  }

  // The tool received the words the builder made, and nothing else ran.
  void expect_same(const char* tool, const tool_args& args, int i) {
    buf out{};
    EXPECT_EQ(run_capture(tool, args, &out), tool_outcome::exited) << i;
    buf_free(&out);
    ASSERT_EQ(logged(), words(args.word, args.word + args.count)) << i;
    ASSERT_FALSE(std::filesystem::exists(marker_)) << i;
  }

  // Random bytes from 1 to 255, now and then a fragment that would run a command.
  std::string hostile(size_t max_len) {
    std::uniform_int_distribution<int> byte(1, 255), len(1, static_cast<int>(max_len)), pick(0, 9);
    if (pick(rng_) == 0) return escaped_only(max_len);
    const std::string fragments[] = {"$(touch " + marker_ + ")",
                                     "`touch " + marker_ + "`",
                                     "\"; touch " + marker_ + "; \"",
                                     "$HOME",
                                     "\\",
                                     "\n",
                                     "%PATH%"};
    std::string s;
    int n = len(rng_);
    while (static_cast<int>(s.size()) < n) {
      if (pick(rng_) == 0) {
        s += fragments[std::uniform_int_distribution<size_t>(0, 6)(rng_)];
      } else {
        s += static_cast<char>(byte(rng_));
      }
    }
    return s;
  }

  // max_len bytes, each one a shell would read inside double quotes.
  std::string escaped_only(size_t max_len) {
    std::uniform_int_distribution<size_t> pick(0, 3);
    std::string s;
    while (s.size() < max_len) s += "$`\\\""[pick(rng_)];
    return s;
  }

  // A valid account name, or the default account's empty one.
  std::string name() {
    static const std::string alphabet =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._";
    std::uniform_int_distribution<size_t> ch(0, alphabet.size() - 1), len(0, 64);
    std::string s;
    for (size_t n = len(rng_); s.size() < n;) s += alphabet[ch(rng_)];
    return name_valid(s.c_str()) ? s : "";
  }

  std::mt19937 rng_{20261209};
  std::filesystem::path dir_;
  std::string log_, marker_;
};

TEST_F(QuotingProperty, CredentialsPaths) {
  // Up to the longest path a location holds.
  for (int i = 0; i < 200; i++) {
    std::string path = hostile(kPathCap - 1);
    tool_args args;
    refresh_args(path.c_str(), &args);
    expect_same(FAKE_TOOL_PATH, args, i);
  }
}

TEST_F(QuotingProperty, AuthorizationCodes) {
  // Codes are drawn from the bytes a code may hold, now and then with a
  // fragment that the check must refuse.
  std::string allowed;
  for (int c = 0x20; c <= 0xff; c++)
    if (c != 0x7f && std::string("\"$&';<>\\`|%").find(static_cast<char>(c)) == std::string::npos)
      allowed += static_cast<char>(c);
  std::uniform_int_distribution<size_t> ch(0, allowed.size() - 1), len(1, kCodeCap - 1);
  int tried = 0;
  for (int i = 0; i < 300; i++) {
    std::string code;
    for (size_t n = len(rng_); code.size() < n;) code += allowed[ch(rng_)];
    if (i % 4 == 0) code.insert(code.size() / 2, hostile(40));
    if (code.size() >= kCodeCap || !code_valid(code.c_str())) continue;
    tried++;
    std::string account = name();
    tool_args args;
    finish_args(code.c_str(), account.c_str(), i % 2 == 1, &args);
    expect_same(FAKE_TOOL_PATH, args, i);
  }
  EXPECT_GT(tried, 50);
}

TEST_F(QuotingProperty, AccountNames) {
  for (int i = 0; i < 60; i++) {
    std::string account = name();
    tool_args status, start, cancel;
    status_args(account.c_str(), &status);
    start_args(account.c_str(), i % 2 == 1, &start);
    cancel_args(account.c_str(), &cancel);
    for (const tool_args* args : {&status, &start, &cancel}) expect_same(FAKE_TOOL_PATH, *args, i);
  }
}

TEST_F(QuotingProperty, ToolNames) {
  // Links to the fake tool under hostile names.
  for (int i = 0; i < 60; i++) {
    std::string leaf = "t" + hostile(120);  // never "." or ".."
    for (char& c : leaf)
      if (c == '/') c = '_';
    std::string tool = (dir_ / leaf).string();
    std::filesystem::remove(tool);
    std::filesystem::create_symlink(FAKE_TOOL_PATH, tool);
    tool_args args;
    status_args("", &args);
    expect_same(tool.c_str(), args, i);
  }
}

}  // namespace
#endif
