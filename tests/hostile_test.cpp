// Hostile and oversized input: every case answers a defined response with the
// right exit status, within the plugin's bounds.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ctime>
#include <string>

#include "node.h"

namespace {

using argv_list = std::vector<std::vector<std::string>>;

// Makes a shell script the login CLI of the node.
void script_login(node& n, const std::string& body) {
  std::string path = n.file("tool.sh", "#!/bin/sh\n" + body + "\n");
  chmod(path.c_str(), 0755);
  n.set("QUORIN_LOGIN_BIN=" + path);
}

TEST(Hostile, LargestQueryAVariableCanCarry) {
  // Linux refuses a single variable over 128 KiB at exec, so no web server can
  // pass more; in-process tests cover a 1 MiB query.
  if (target().windows) GTEST_SKIP() << "a Windows environment block holds 32 K characters";
  node n;
  std::string query = "action=status&x=" + std::string(131072 - 16 - 14, 'q');
  ASSERT_EQ(("QUERY_STRING=" + query).size(), 131071u);
  outcome o = n.get(query);
  EXPECT_EQ(o.out, empty_status(n.creds_path()));
  EXPECT_EQ(o.exit_code, 0);
}

TEST(Hostile, NothingInTheEnvironment) {
  outcome o = run_plugin({{}, {}, "", ""});
  EXPECT_EQ(o.out, run_plugin({{"QUERY_STRING="}, {}, "", ""}).out) << "the console page";
  o = run_plugin({{"QUERY_STRING=action=finish"}, {}, "", ""});
  EXPECT_EQ(o.exit_code, 1);
  EXPECT_NE(o.out.find("missing_code"), std::string::npos);
}

TEST(Hostile, BodiesWithBinaryBytes) {
  std::string binary;
  for (int i = 1; i < 256; i++) binary += static_cast<char>(i);
  struct {
    std::string body;
    std::string length;
    std::string answer;  // error code
  } cases[] = {
      {binary, "", "missing_code"},
      {std::string("\0\0\0{\"code\":\"x\"}", 16), "", "missing_code"},
      {"{\"code\":\"\x80\xff\xfe\"}", "", "finish_failed"},
      {"{\"code\":\"\x1a"
       "abc\"}",
       "", "invalid_code"},
      {"{\"code\":\"abc\"}", "999999999999999999999", "missing_code"},
      {"{\"code\":\"abc\"}", "100", "missing_code"},  // more announced than sent: cut
      {"{\"code\":\"abc\"}", "+14", "finish_failed"},
      {"{\"code\":\"abc\"}", "14 bytes", "finish_failed"},
      {"{\"code\":\"abc\"}", "-14", "missing_code"},
  };
  for (const auto& c : cases) {
    node n;
    n.fake_login();
    n.set("FAKE_REPLY={\"ok\":false}");
    std::vector<std::string> env = n.env;
    env.push_back("QUERY_STRING=action=finish");
    env.push_back("CONTENT_LENGTH=" +
                  (c.length.empty() ? std::to_string(c.body.size()) : c.length));
    outcome o = run_plugin({env, {}, c.body, n.home()});
    EXPECT_EQ(member(o.out, "error"), "\"" + c.answer + "\"") << c.length;
    EXPECT_EQ(o.exit_code, 1);
  }
}

TEST(Hostile, LoginCliMisbehaves) {
  if (target().windows) GTEST_SKIP() << "#!/bin/sh tools";
  struct {
    const char* why;
    std::string script;
    std::string start_error;  // "" when the start succeeds
    std::string cli_present;
  } cases[] = {
      {"megabytes of output", "yes '{\"pending\":true}' | head -c 3000000", "start_failed", "true"},
      {"megabytes, reply last",
       "head -c 3000000 /dev/zero | tr '\\0' x; echo; echo '{\"auth_url\":\"u\"}'", "start_failed",
       "true"},
      {"nothing", "exit 0", "start_failed", "true"},
      {"never ends a line", "head -c 300000 /dev/zero | tr '\\0' '{'", "start_failed", "true"},
      {"killed by a signal", "echo '{\"auth_url\":\"u\",\"pending\":true}'; kill -9 $$",
       "start_failed", "true"},
      {"a reply then a hang-up", "echo '{\"auth_url\":\"u\"}'; exec 1>&-; sleep 0", "", "true"},
  };
  for (const auto& c : cases) {
    node n;
    script_login(n, c.script);
    outcome start = n.get("action=start");
    if (c.start_error.empty()) {
      EXPECT_EQ(start.exit_code, 0) << c.why;
      EXPECT_EQ(member(start.out, "auth_url"), "\"u\"") << c.why;
    } else {
      EXPECT_EQ(start.exit_code, 1) << c.why;
      EXPECT_EQ(member(start.out, "error"), "\"" + c.start_error + "\"") << c.why;
    }
    outcome status = n.get("action=status");
    EXPECT_EQ(status.exit_code, 0) << c.why;
    EXPECT_EQ(member(status.out, "cli_present"), c.cli_present) << c.why;
    EXPECT_LT(status.out.size(), 4096u) << c.why;
  }
}

TEST(Hostile, CredentialsOfEightMiBOfBraces) {
  node n;
  n.credentials(std::string(8 * 1024 * 1024, '{'));
  outcome o = n.get("action=status");
  EXPECT_EQ(member(o.out, "logged_in"), "false");
  const std::string tail = "\"quorinAiOauth\":{\"accessToken\":\"a\"}}";
  n.credentials(std::string(8 * 1024 * 1024 - tail.size(), '{') + tail);
  EXPECT_EQ(member(n.get("action=status").out, "logged_in"), "true") << "8 MiB is still read";
  n.credentials(std::string(8 * 1024 * 1024 + 1 - tail.size(), '{') + tail);
  EXPECT_EQ(member(n.get("action=status").out, "logged_in"), "false") << "one byte more is not";
}

TEST(Hostile, ThousandAccountFiles) {
  node n;
  // Appended, not "a" + ...: GCC 12 at -O3 misreads that form (bug 105329).
  for (int i = 0; i < 1000; i++) n.account(std::string("a").append(std::to_string(1000 + i)), "{}");
  outcome o = n.get("action=status");
  EXPECT_EQ(o.exit_code, 0);
  std::string accounts = member(o.out, "accounts");
  EXPECT_EQ(accounts.substr(0, 18), "[{\"name\":\"a1000\",\"");
  EXPECT_NE(accounts.find("\"a1063\""), std::string::npos);
  EXPECT_EQ(accounts.find("\"a1064\""), std::string::npos);
}

TEST(Hostile, AccountFileNamesWithBlanksAndOtherBytes) {
  if (target().windows) GTEST_SKIP() << "no control bytes, \" or \\ in a Windows file name";
  node n;
  n.account("my account", "{\"quorinAiOauth\":{\"accessToken\":\"a\"}}");
  n.account("caf\xc3\xa9", "{}");
  n.account("\xff\x01q\"\\", "{}");
  std::string accounts = member(n.get("action=status").out, "accounts");
  EXPECT_EQ(accounts,
            "[{\"name\":\"caf\xc3\xa9\",\"logged_in\":false,\"has_refresh\":false,"
            "\"expires_in_sec\":0,\"expired\":false},"
            "{\"name\":\"my account\",\"logged_in\":true,\"has_refresh\":false,"
            "\"expires_in_sec\":0,\"expired\":false},"
            "{\"name\":\"\xff\\u0001q\\\"\\\\\",\"logged_in\":false,\"has_refresh\":false,"
            "\"expires_in_sec\":0,\"expired\":false}]");
}

}  // namespace
