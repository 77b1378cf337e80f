// The whole request path in-process: environment, query, body, files on the
// node and the tools' replies all come from the input; the tools themselves
// are replaced by the fake platform, which checks every command line.
//
// Input fields, separated by 0x1e: query, body, CONTENT_LENGTH, BOT_PASSWORD,
// X-Bot-Password, Authorization, tool reply, tool exit status (or "fail",
// "linger", "late": not started, lingering, cut by the deadline), credentials
// file, named-account files ("name=content" joined by 0x1f), profile file,
// pending marker names (joined by 0x1f), QUORIN_LOGIN_BIN, Accept.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fake_platform.h"
#include "fields.h"
#include "request/plugin_quorincode_login.h"

namespace {

const char kHome[] = "/node";
const char kQuorin[] = "/node/.quorin";

void set_env(const char* name, const std::string& value, bool present) {
  if (present) world().env[name] = c_text(value);
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : s) {
    if (c == sep) {
      parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (freopen("/dev/null", "w", stdout) == nullptr) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto f = split_fields(data, size, 14);
  fake_world& w = world();
  w = fake_world{};
  w.env["HOME"] = kHome;
  w.dirs = {kHome, kQuorin, std::string(kQuorin) + "/accounts", "/node/.quorin/accounts/dir.json"};
  w.env["QUERY_STRING"] = c_text(f[0]);
  set_env("CONTENT_LENGTH", f[2], !f[2].empty());
  set_env("BOT_PASSWORD", f[3], !f[3].empty());
  set_env("HTTP_X_BOT_PASSWORD", f[4], !f[4].empty());
  set_env("HTTP_AUTHORIZATION", f[5], !f[5].empty());
  set_env("QUORIN_LOGIN_BIN", f[12], !f[12].empty());
  set_env("HTTP_ACCEPT", f[13], !f[13].empty());
  w.reply = f[6];
  w.status = f[7].empty() ? 0 : atoi(c_text(f[7]).c_str());
  w.start_fails = f[7] == "fail";
  w.ending = f[7] == "linger" ? fake_world::lingers
             : f[7] == "late" ? fake_world::deadline
                              : fake_world::exits;
  if (!f[8].empty()) w.files[std::string(kQuorin) + "/.credentials.json"] = f[8];
  for (const std::string& acct : split(f[9], '\x1f')) {
    size_t eq = acct.find('=');
    std::string name = c_text(acct.substr(0, eq));
    if (name.find('/') == std::string::npos && !name.empty())
      w.files[std::string(kQuorin) + "/accounts/" + name + ".json"] =
          eq == std::string::npos ? "" : acct.substr(eq + 1);
  }
  if (!f[10].empty()) w.files[std::string(kQuorin) + "/tellumar-env/quorin_code.txt"] = f[10];
  for (const std::string& marker : split(f[11], '\x1f'))
    w.files[std::string(kQuorin) + "/.login-pending/quorincode-" + c_text(marker) + ".json"] = "{}";

  std::string body = f[1];
  FILE* in = body.empty() ? fopen("/dev/null", "r") : fmemopen(body.data(), body.size(), "r");
  FILE* saved = stdin;
  stdin = in;
  char program[] = "plugin_quorincode_login";
  char* argv[] = {program, nullptr};
  int status = plugin_main(1, argv);
  stdin = saved;
  fclose(in);
  fflush(stdout);
  if (status != 0 && status != 1) abort();
  return 0;
}
