// For many random values that pass the checks made before quoting, the
// argument lines the actions build, run through the plugin's own shell, reach
// the tool's argv byte for byte and run nothing else.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "fake_log.h"
#include "login/code.h"
#include "login/runner.h"
#include "login/tool_args.h"
#include "request/query.h"

namespace {

class QuotingProperty : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("quoting-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    log_ = (dir_ / "calls.log").string();
    marker_ = (dir_ / "ran").string();
    setenv("FAKE_LOG", log_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("FAKE_LOG");
    std::filesystem::remove_all(dir_);
  }

  // Runs the fake tool with the argument line; gives the argv it received.
  std::vector<std::string> run(const char* args) {
    std::filesystem::remove(log_);
    buf out{};
    EXPECT_EQ(run_capture(FAKE_TOOL_PATH, args, &out), 1);
    buf_free(&out);
    auto runs = read_fake_log(log_);
    return runs.size() == 1 ? runs[0] : std::vector<std::string>{"<not run once>"};
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
                                     "%PATH%"};
    std::string s;
    int n = len(rng_);
    while (static_cast<int>(s.size()) < n) {
      if (pick(rng_) == 0) {
        s += fragments[std::uniform_int_distribution<size_t>(0, 5)(rng_)];
      } else {
        s += static_cast<char>(byte(rng_));
      }
    }
    return s;
  }

  // max_len bytes, each one the shell escapes: the longest quoted form.
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

  // "--name" and the name, when there is one.
  static std::vector<std::string> name_args(const std::string& name) {
    return name.empty() ? std::vector<std::string>{} : std::vector<std::string>{"--name", name};
  }

  std::mt19937 rng_{20261209};
  std::filesystem::path dir_;
  std::string log_, marker_;
};

TEST_F(QuotingProperty, CredentialsPaths) {
  // Up to the longest path a location holds.
  for (int i = 0; i < 300; i++) {
    std::string path = hostile(kPathCap - 1);
    char args[kRefreshArgsCap];
    refresh_args(path.c_str(), args);
    ASSERT_EQ(run(args), (std::vector<std::string>{"--credentials-file", path, "--force"})) << i;
    ASSERT_FALSE(std::filesystem::exists(marker_)) << i;
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
  for (int i = 0; i < 400; i++) {
    std::string code;
    for (size_t n = len(rng_); code.size() < n;) code += allowed[ch(rng_)];
    if (i % 4 == 0) code.insert(code.size() / 2, hostile(40));
    if (code.size() >= kCodeCap || !code_valid(code.c_str())) continue;
    tried++;
    std::string account = name();
    bool force = i % 2 == 1;
    char args[kFinishArgsCap];
    finish_args(code.c_str(), account.c_str(), force, args);
    std::vector<std::string> want = {"--finish", code};
    for (const std::string& a : name_args(account)) want.push_back(a);
    if (force) want.push_back("--force");
    ASSERT_EQ(run(args), want) << i;
  }
  EXPECT_GT(tried, 50);
}

TEST_F(QuotingProperty, AccountNames) {
  for (int i = 0; i < 100; i++) {
    std::string account = name();
    bool force = i % 2 == 1;
    std::vector<std::string> with_name = name_args(account);
    auto expect = [&](std::vector<std::string> head, const char* args) {
      head.insert(head.end(), with_name.begin(), with_name.end());
      ASSERT_EQ(run(args), head) << i << " " << args;
    };
    char status[kStatusArgsCap], start[kStartArgsCap], cancel[kCancelArgsCap];
    status_args(account.c_str(), status);
    start_args(account.c_str(), force, start);
    cancel_args(account.c_str(), cancel);
    expect({"--status"}, status);
    expect(force ? std::vector<std::string>{"--start", "--force"}
                 : std::vector<std::string>{"--start"},
           start);
    expect({"--cancel"}, cancel);
  }
}

}  // namespace
#endif
