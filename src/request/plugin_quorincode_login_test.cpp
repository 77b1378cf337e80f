// Requests that no web server on Linux can pass through exec (a variable over
// 128 KiB), run in-process.
#include "request/plugin_quorincode_login.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Runs one request in this process with these variables set; gives stdout.
std::string request_in_process(const std::vector<std::pair<std::string, std::string>>& env,
                               int* status) {
  for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
  char path[] = "/tmp/inproc-XXXXXX";
  int fd = mkstemp(path);
  fflush(stdout);
  int saved = dup(1);
  dup2(fd, 1);
  char program[] = "plugin_quorincode_login";
  char* argv[] = {program, nullptr};
  *status = plugin_main(1, argv);
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  std::string out;
  char chunk[4096];
  lseek(fd, 0, SEEK_SET);
  for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;)
    out.append(chunk, static_cast<size_t>(n));
  close(fd);
  unlink(path);
  for (const auto& [name, value] : env) unsetenv(name.c_str());
  return out;
}

TEST(InProcess, OneMebibyteQueryString) {
  const std::string mib(1 << 20, 'q');
  std::vector<std::pair<std::string, std::string>> base = {
      {"QUORIN_CREDS_PATH", "/nonexistent/.quorin/.credentials.json"},
      {"QUORIN_LOGIN_BIN", "/nonexistent/login"}};
  int status = -1;

  auto env = base;
  env.push_back({"QUERY_STRING", "action=status&x=" + mib});
  std::string out = request_in_process(env, &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find("\"ok\":true,\"plugin\":\"plugin_quorincode_login\""), std::string::npos);

  env = base;
  env.push_back({"QUERY_STRING", "action=finish&code=" + mib});
  out = request_in_process(env, &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("\"error\":\"cli_unavailable\""), std::string::npos);

  env = base;
  env.push_back({"QUERY_STRING", "name=" + mib});
  out = request_in_process(env, &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("\"error\":\"bad_name\""), std::string::npos);

  env = base;
  env.push_back({"QUERY_STRING", "action=" + mib});
  out = request_in_process(env, &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("\"detail\":\"" + std::string(63, 'q') + "\"}"), std::string::npos);
}

}  // namespace
#endif
