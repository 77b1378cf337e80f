// For many random values that pass the checks made before quoting, the quoted
// text run through the plugin's own shell reaches the tool's argv byte for
// byte and runs nothing else.
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
  std::vector<std::string> run(const std::string& args) {
    std::filesystem::remove(log_);
    buf out{};
    EXPECT_EQ(run_capture(FAKE_TOOL_PATH, args.c_str(), &out), 1);
    buf_free(&out);
    auto runs = read_fake_log(log_);
    return runs.size() == 1 ? runs[0] : std::vector<std::string>{"<not run once>"};
  }

  // Random bytes from 1 to 255, now and then a fragment that would run a command.
  std::string hostile(size_t max_len) {
    std::uniform_int_distribution<int> byte(1, 255), len(1, static_cast<int>(max_len)), pick(0, 9);
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

  std::mt19937 rng_{20261209};
  std::filesystem::path dir_;
  std::string log_, marker_;
};

TEST_F(QuotingProperty, CredentialsPaths) {
  for (int i = 0; i < 300; i++) {
    std::string path = hostile(600);
    char quoted[2048];
    shell_quote_into(path.c_str(), quoted, sizeof quoted);
    auto argv = run(std::string("--credentials-file ") + quoted + " --force");
    ASSERT_EQ(argv, (std::vector<std::string>{"--credentials-file", path, "--force"})) << i;
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
  std::uniform_int_distribution<size_t> ch(0, allowed.size() - 1), len(1, 2047);
  int tried = 0;
  for (int i = 0; i < 400; i++) {
    std::string code;
    for (size_t n = len(rng_); code.size() < n;) code += allowed[ch(rng_)];
    if (i % 4 == 0) code.insert(code.size() / 2, hostile(40));
    if (!code_valid(code.c_str())) continue;
    tried++;
    char quoted[2112];
    shell_quote_into(code.c_str(), quoted, sizeof quoted);
    ASSERT_EQ(run(std::string("--finish ") + quoted), (std::vector<std::string>{"--finish", code}));
  }
  EXPECT_GT(tried, 50);
}

TEST_F(QuotingProperty, AccountNames) {
  const std::string alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._";
  std::uniform_int_distribution<size_t> ch(0, alphabet.size() - 1), len(1, 64);
  for (int i = 0; i < 200; i++) {
    std::string name;
    for (size_t n = len(rng_); name.size() < n;) name += alphabet[ch(rng_)];
    if (!name_valid(name.c_str())) continue;
    char quoted[192];
    shell_quote_into(name.c_str(), quoted, sizeof quoted);
    ASSERT_EQ(run(std::string("--start --force --name ") + quoted),
              (std::vector<std::string>{"--start", "--force", "--name", name}));
  }
}

}  // namespace
#endif
