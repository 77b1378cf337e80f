// Status collection at a moment the test chooses: the expiry arithmetic at
// its boundaries, for the account and for the entries of the listing.
#include "status/collect.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

constexpr int64_t kNow = 1767225600;

class Collect : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = fs::temp_directory_path() / ("collect-" + test + std::to_string(std::random_device{}()));
    fs::create_directories(dir_ / "accounts");
    set_env("QUORIN_CREDS_PATH", (dir_ / "creds.json").string());
    set_env("QUORIN_ACCOUNTS_DIR", (dir_ / "accounts").string());
    set_env("QUORIN_LOGIN_BIN", (dir_ / "no-such-tool").string());
  }
  void TearDown() override {
    for (const char* v : {"QUORIN_CREDS_PATH", "QUORIN_ACCOUNTS_DIR", "QUORIN_LOGIN_BIN"})
      set_env(v, "");
    fs::remove_all(dir_);
  }

  void write(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }

  fs::path dir_;
};

TEST_F(Collect, ExpiryAtTheBoundary) {
  struct {
    int64_t expires_at;
    int64_t in_sec;
    int32_t expired;
  } cases[] = {
      {kNow, 0, 1},  // expiring now is expired
      {kNow + 1, 1, 0},
      {kNow - 1, -1, 1},
      {kNow * 1000, 0, 1},
      {kNow * 1000 + 999, 0, 1},  // milliseconds divide down
      {(kNow + 1) * 1000, 1, 0},
      {100000000000, 100000000000 - kNow, 0},  // still seconds
      {100000000001, 100000000 - kNow, 1},     // milliseconds
  };
  for (const auto& c : cases) {
    write(dir_ / "creds.json", creds_json(c.expires_at));
    write(dir_ / "accounts" / "a.json", creds_json(c.expires_at));
    status_rec rec;
    collect_status_at(&rec, "", kNow);
    EXPECT_EQ(rec.expires_at, c.expires_at);
    EXPECT_EQ(rec.expires_in_sec, c.in_sec) << c.expires_at;
    EXPECT_EQ(rec.expired, c.expired) << c.expires_at;
    ASSERT_EQ(rec.account_count, 1);
    EXPECT_EQ(rec.accounts[0].expires_in_sec, c.in_sec) << c.expires_at;
    EXPECT_EQ(rec.accounts[0].expired, c.expired) << c.expires_at;
  }
}

// Each listed file is read on its own: what one file set must not show in the next.
TEST_F(Collect, ListingEntriesAreIndependent) {
  write(dir_ / "accounts" / "a.json", creds_json(kNow + 60));
  write(dir_ / "accounts" / "b.json", R"({"quorinAiOauth":{"subscriptionType":"pro"}})");
  write(dir_ / "accounts" / "c.json", creds_json(kNow + 60, false));
  status_rec rec;
  collect_status_at(&rec, "", kNow);
  ASSERT_EQ(rec.account_count, 3);
  const account_rec& b = rec.accounts[1];
  EXPECT_STREQ(b.name, "b");
  EXPECT_EQ(b.logged_in, 0);
  EXPECT_EQ(b.has_refresh, 0);
  EXPECT_EQ(b.expires_in_sec, 0);
  EXPECT_EQ(rec.accounts[2].logged_in, 1);
  EXPECT_EQ(rec.accounts[2].has_refresh, 0);
}

}  // namespace
