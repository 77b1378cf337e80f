#include "status/locations.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

#include "platform/platform.h"

namespace {

const char* const kVars[] = {"USERPROFILE",    "HOMEDRIVE",         "HOMEPATH",
                             "HOME",           "QUORIN_CREDS_PATH", "QUORIN_ACCOUNTS_DIR",
                             "QUORIN_ENV_DIR", "QUORIN_PENDING_DIR"};

// Each test starts with none of the location variables set.
class Locations : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* v : kVars) set_env(v, "");
  }
  void TearDown() override { SetUp(); }

  static std::string sep(const std::string& p) {
    std::string s = p;
    for (char& c : s)
      if (c == '/') c = kPathSep;
    return s;
  }
  template <typename F>
  static std::string path(F f) {
    char out[kPathCap];
    f(out);
    return out;
  }
};

TEST_F(Locations, HomeFolder) {
  EXPECT_EQ(home_dir(), nullptr);
  set_env("HOMEDRIVE", "C:");
  EXPECT_EQ(home_dir(), nullptr);  // no path piece
  set_env("HOMEPATH", "\\Users\\q");
  EXPECT_STREQ(home_dir(), "C:\\Users\\q");
  set_env("USERPROFILE", std::string(511, 'u'));
  EXPECT_EQ(std::string(home_dir()), std::string(511, 'u'));
  set_env("USERPROFILE", std::string(512, 'u'));
  EXPECT_STREQ(home_dir(), "C:\\Users\\q");
  set_env("HOMEPATH", std::string(600, 'p'));  // too long for the area: missing
  EXPECT_EQ(home_dir(), nullptr);
  set_env("HOMEDRIVE", std::string(300, 'd'));
  set_env("HOMEPATH", std::string(300, 'p'));
  EXPECT_EQ(std::string(home_dir()), std::string(300, 'd') + std::string(211, 'p'));
#ifndef _WIN32
  set_env("USERPROFILE", "");
  set_env("HOMEDRIVE", "");
  set_env("HOME", "/home/posix");
  EXPECT_STREQ(home_dir(), "/home/posix");
#endif
}

TEST_F(Locations, HomeFolderNamesItsSource) {
  struct {
    std::vector<std::pair<const char*, const char*>> set;
    const char* source;  // null: no home folder
  } cases[] = {
      {{{"USERPROFILE", "u"}, {"HOMEDRIVE", "d"}, {"HOMEPATH", "p"}, {"HOME", "h"}}, "USERPROFILE"},
      {{{"HOMEDRIVE", "d"}, {"HOMEPATH", "p"}, {"HOME", "h"}}, "HOMEDRIVE and HOMEPATH"},
      {{{"HOMEDRIVE", "d"}}, nullptr},
      {{{"HOME", "h"}}, kHomeFallbackVar},
  };
  for (const auto& c : cases) {
    SetUp();
    for (const auto& [name, value] : c.set) set_env(name, value);
    const char* source = "unset";
    const char* home = home_dir_from(&source);
    EXPECT_EQ(home == nullptr, c.source == nullptr);
    EXPECT_STREQ(source, c.source);
  }
}

TEST_F(Locations, DefaultsUnderTheHomeFolder) {
  set_env("USERPROFILE", sep("/home/q"));
  EXPECT_EQ(path(quorin_dir), sep("/home/q/.quorin/"));
  EXPECT_EQ(path(creds_path), sep("/home/q/.quorin/.credentials.json"));
  EXPECT_EQ(path(accounts_dir), sep("/home/q/.quorin/accounts"));
  EXPECT_EQ(path([](char* o) { account_file("work", o); }),
            sep("/home/q/.quorin/accounts/work.json"));
  EXPECT_EQ(path(profile_path), sep("/home/q/.quorin/tellumar-env/quorin_code.txt"));
  EXPECT_EQ(path([](char* o) { pending_marker("", o); }),
            sep("/home/q/.quorin/.login-pending/quorincode-default.json"));
  EXPECT_EQ(path([](char* o) { pending_marker("work", o); }),
            sep("/home/q/.quorin/.login-pending/quorincode-work.json"));
}

TEST_F(Locations, NoHomeGivesARelativeFolder) {
  EXPECT_EQ(path(quorin_dir), sep(".quorin/"));
}

TEST_F(Locations, CredentialsPathNamesTheServiceFolder) {
  set_env("USERPROFILE", sep("/home/q"));
  set_env("QUORIN_CREDS_PATH", "/srv/node/creds.json");
  EXPECT_EQ(path(creds_path), "/srv/node/creds.json");
  EXPECT_EQ(path(quorin_dir), "/srv/node/");
  EXPECT_EQ(path(accounts_dir), "/srv/node/accounts");
  set_env("QUORIN_CREDS_PATH", "bare.json");  // no folder part: home-based service folder
  EXPECT_EQ(path(creds_path), "bare.json");
  EXPECT_EQ(path(quorin_dir), sep("/home/q/.quorin/"));
}

TEST_F(Locations, FolderVariablesAreUsedExactly) {
  set_env("QUORIN_ACCOUNTS_DIR", sep("/acc/"));
  set_env("QUORIN_ENV_DIR", sep("/env"));
  set_env("QUORIN_PENDING_DIR", sep("/pend"));
  EXPECT_EQ(path([](char* o) { account_file("n", o); }), sep("/acc//n.json"));
  EXPECT_EQ(path(profile_path), sep("/env/quorin_code.txt"));
  EXPECT_EQ(path([](char* o) { pending_marker("n", o); }), sep("/pend/quorincode-n.json"));
}

TEST_F(Locations, LongPathsAreCut) {
  set_env("QUORIN_ACCOUNTS_DIR", std::string(2000, 'a'));
  std::string p = path([](char* o) { account_file("n", o); });
  EXPECT_EQ(p, std::string(1023, 'a'));
}

TEST_F(Locations, DirOf) {
  struct {
    const char* in;
    const char* out;
  } cases[] = {{"/a/b/c.json", "/a/b/"}, {"c.json", ""}, {"/", "/"}, {"", ""}};
  for (const auto& c : cases) {
    char out[kPathCap];
    dir_of(c.in, out);
    EXPECT_STREQ(out, c.out) << c.in;
  }
  char out[kPathCap] = "x";
  dir_of(nullptr, out);
  EXPECT_STREQ(out, "");
#ifdef _WIN32
  dir_of("C:\\a\\b/c", out);
  EXPECT_STREQ(out, "C:\\a\\");
#endif
}

TEST_F(Locations, ReadFileAndFileExists) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / "locations-test";
  fs::create_directories(dir / "folder.json");
  auto write = [&](const char* name, size_t size) {
    std::ofstream(dir / name, std::ios::binary) << std::string(size, '{');
    return (dir / name).string();
  };
  std::string empty = write("empty", 0);
  std::string at_limit = write("limit", kReadFileMax);
  std::string over = write("over", kReadFileMax + 1);

  char* text = read_file(empty.c_str());
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "");
  free(text);
  text = read_file(at_limit.c_str());
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(strlen(text), kReadFileMax);
  free(text);
  EXPECT_EQ(read_file(over.c_str()), nullptr);
  EXPECT_EQ(read_file(""), nullptr);
  EXPECT_EQ(read_file((dir / "missing").string().c_str()), nullptr);
  EXPECT_EQ(read_file((dir / "folder.json").string().c_str()), nullptr);
  // A device opens like a file but is none.
#ifdef _WIN32
  EXPECT_EQ(read_file("NUL"), nullptr);
#else
  EXPECT_EQ(read_file("/dev/null"), nullptr);
#endif

  EXPECT_EQ(file_exists(empty.c_str()), 1);
  EXPECT_EQ(file_exists((dir / "folder.json").string().c_str()), 0);
  EXPECT_EQ(file_exists((dir / "missing").string().c_str()), 0);
  fs::remove_all(dir);
}

}  // namespace
