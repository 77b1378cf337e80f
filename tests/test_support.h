// What the unit tests under src/ and the process tests here share: the
// environment, a process's life, what the fake tool recorded, and the
// expected bytes of answers and files that several tests use.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

// Sets a variable of this process on either system; null removes it. An empty
// value counts as unset for every setting the plugin reads (and Windows
// removes the variable then).
inline void set_env(const char* name, const char* value) {
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

inline void set_env(const char* name, const std::string& value) {
  set_env(name, value.c_str());
}

// Whether the process exists and is not a zombie (Linux, from /proc).
inline bool pid_alive(long pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  if (text.empty()) return false;
  size_t paren = text.rfind(')');  // the name may hold anything, ")" too
  return paren == std::string::npos || paren + 2 >= text.size() || text[paren + 2] != 'Z';
}

#ifndef _WIN32
// A folder of the running test's own (named after it: ctest runs tests side
// by side), removed with everything in it at the end; tools in it are tiny
// shell scripts.
struct test_folder {
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() /
      (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
       std::to_string(getpid()));
  test_folder() { std::filesystem::create_directories(dir); }
  ~test_folder() { std::filesystem::remove_all(dir); }
  std::string at(const std::string& name) const { return (dir / name).string(); }
  // Writes name (and the folders it lies in) with this mode; gives its path.
  std::string file(const std::string& name, const std::string& text, mode_t mode) const {
    std::filesystem::create_directories((dir / name).parent_path());
    std::ofstream(at(name)) << text;
    chmod(at(name).c_str(), mode);
    return at(name);
  }
  std::string script(const std::string& name, const std::string& body) const {
    return file(name, "#!/bin/sh\n" + body + "\n", 0755);
  }
};
#endif

// What fake_tool recorded: "<count>\n" then "<length>:<bytes>\n" per
// argument, for each run in order.
inline std::vector<std::vector<std::string>> read_fake_log(const std::string& path) {
  std::vector<std::vector<std::string>> runs;
  std::ifstream in(path, std::ios::binary);
  int count = 0;
  while (in >> count) {
    in.get();  // line feed
    std::vector<std::string> args;
    for (int i = 0; i < count; i++) {
      size_t len = 0;
      in >> len;
      in.get();  // colon
      std::string arg(len, '\0');
      in.read(arg.data(), static_cast<std::streamsize>(len));
      in.get();  // line feed
      args.push_back(arg);
    }
    runs.push_back(args);
  }
  return runs;
}

// A signed-in credentials file with this expiry (ms or s, as stored).
inline std::string creds_json(int64_t expires_at, bool refresh = true) {
  return std::string(R"({"quorinAiOauth":{"accessToken":"a",)") +
         (refresh ? R"("refreshToken":"r",)" : "") + "\"expiresAt\":" + std::to_string(expires_at) +
         "}}";
}

// Tokens that expire on 2100-01-01 00:00 UTC, stored in milliseconds.
inline const std::string kCreds = creds_json(4102444800000);

// The JSON header block of a success.
inline constexpr char kJsonHeaders[] =
    "Content-Type: application/json; charset=utf-8\r\n"
    "Cache-Control: no-store\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "\r\n";

// The whole answers of a cancel, and of a refresh that changed nothing.
inline const std::string kCancelled =
    std::string(kJsonHeaders) + "{\"ok\":true,\"state\":\"cancelled\",\"pending\":false}\n";
inline const std::string kRefreshFailed =
    std::string(kJsonHeaders) +
    "{\"ok\":false,\"error\":\"refresh_failed\",\"detail\":\"the refresh CLI did not update the "
    "credentials file; sign in again\"}\n";
