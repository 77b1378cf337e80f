// What the unit tests under src/ and the process tests here share: the
// environment, a process's life, what the fake tool recorded, and the
// expected bytes of answers and files that several tests use.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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
