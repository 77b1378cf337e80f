// Whole sign-ins on a throwaway node with the stand-in login and refresh CLIs:
// start, finish with the shown code, status, refresh, re-login, cancel.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "node.h"
#include "standin.h"

namespace {

std::string unquote(const std::string& json_string) {
  return json_string.size() >= 2 ? json_string.substr(1, json_string.size() - 2) : "";
}

std::string state_of(const std::string& start_reply) {
  std::string url = unquote(member(start_reply, "auth_url"));
  size_t at = url.find("state=");
  return at == std::string::npos ? "" : url.substr(at + 6);
}

std::string percent_encode(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    char hex[4];
    snprintf(hex, sizeof hex, "%%%02X", c);
    out += isalnum(c) ? std::string(1, static_cast<char>(c)) : std::string(hex);
  }
  return out;
}

node standin_node() {
  node n;
  n.set("QUORIN_LOGIN_BIN=" + target_path(target().login_standin));
  n.set("QUORIN_REFRESH_BIN=" + target_path(target().refresh_standin));
  n.set("STANDIN_SIGNIN_URL=http://127.0.0.1:9/signin.html");
  return n;
}

TEST(Cycle, SignInRefreshReloginCancel) {
  node n = standin_node();
  outcome o = n.get("action=status");
  EXPECT_EQ(member(o.out, "cli_present"), "true");
  EXPECT_EQ(member(o.out, "logged_in"), "false");

  o = n.get("action=start");
  ASSERT_EQ(o.exit_code, 0) << o.out;
  std::string state = state_of(o.out);
  ASSERT_EQ(state.size(), 32u) << o.out;
  EXPECT_EQ(unquote(member(o.out, "auth_url")), "http://127.0.0.1:9/signin.html?state=" + state);
  EXPECT_EQ(member(n.get("action=status").out, "pending"), "true");
  o = n.get("action=start");
  EXPECT_EQ(state_of(o.out), state) << "a pending sign-in is resumed: " << o.out;

  o = n.get("action=finish&code=qc_00000000");
  EXPECT_EQ(member(o.out, "error"), "\"invalid_grant\"");
  EXPECT_EQ(o.exit_code, 1);

  std::string redirect =
      "http://127.0.0.1:9/callback?code=" + code_for_state(state) + "&state=" + state;
  o = n.get("action=finish&code=" + percent_encode(redirect + "\n"));
  ASSERT_EQ(o.exit_code, 0) << o.out;
  EXPECT_EQ(member(o.out, "state"), "\"done\"");
  EXPECT_EQ(member(o.out, "logged_in"), "true");
  EXPECT_EQ(member(o.out, "pending"), "false");
  EXPECT_EQ(member(o.out, "account"), "\"stand-in user\"");
  EXPECT_NEAR(std::stod(member(o.out, "expires_in_sec")), 28800, 3);

  o = n.get("action=finish&code=" + code_for_state(state));
  EXPECT_EQ(member(o.out, "error"), "\"no_pending_login\"") << "a code is good once";

  std::string creds_before = n.read(".quorin/.credentials.json");
  int64_t expires_before = std::stoll(member(n.get("action=status").out, "expires_at"));
  o = n.get("action=refresh");
  ASSERT_EQ(o.exit_code, 0) << o.out;
  EXPECT_EQ(member(o.out, "refreshed"), "true");
  EXPECT_GT(std::stoll(member(o.out, "expires_at")), expires_before);
  std::string creds_after = n.read(".quorin/.credentials.json");
  EXPECT_EQ(creds_after.substr(0, creds_after.find("expiresAt")),
            creds_before.substr(0, creds_before.find("expiresAt")))
      << "refresh keeps every other key";

  o = n.get("action=start&force=1");  // re-login replaces the session
  std::string state2 = state_of(o.out);
  ASSERT_EQ(state2.size(), 32u);
  EXPECT_NE(state2, state);
  o = n.get("action=finish&force=1&code=" + code_for_state(state2));
  EXPECT_EQ(o.exit_code, 0) << o.out;
  EXPECT_NE(n.read(".quorin/.credentials.json"), creds_after);

  n.get("action=start");
  EXPECT_EQ(member(n.get("action=status").out, "pending"), "true");
  o = n.get("action=cancel");
  EXPECT_EQ(o.exit_code, 0);
  EXPECT_EQ(member(n.get("action=status").out, "pending"), "false");
  EXPECT_EQ(n.read(".quorin/.login-pending/quorincode-default.json"), "<missing>");
}

TEST(Cycle, NamedAccount) {
  node n = standin_node();
  std::string state = state_of(n.get("action=start&name=work").out);
  EXPECT_EQ(member(n.get("action=status&name=work").out, "pending"), "true");
  EXPECT_EQ(member(n.get("action=status").out, "pending"), "false");
  outcome o = n.get("action=finish&name=work&code=" + code_for_state(state));
  ASSERT_EQ(o.exit_code, 0) << o.out;
  EXPECT_EQ(member(o.out, "account"), "\"work\"");
  EXPECT_EQ(member(o.out, "credentials_path"), json_quoted(n.path(".quorin/accounts/work.json")));

  o = n.get("action=status");
  EXPECT_EQ(member(o.out, "logged_in"), "false");
  EXPECT_EQ(member(o.out, "named_accounts"), "false");
  EXPECT_NE(
      member(o.out, "accounts").find("{\"name\":\"work\",\"logged_in\":true,\"has_refresh\":true"),
      std::string::npos);
  o = n.get("action=status&name=work");
  EXPECT_EQ(member(o.out, "logged_in"), "true");
  EXPECT_EQ(member(n.get("action=refresh&name=work").out, "refreshed"), "true");
}

TEST(Cycle, StandinStatusReflectsTheFiles) {
  node n = standin_node();
  n.credentials(R"({"quorinAiOauth":{"refreshToken":"r"}})");
  outcome o = n.get("action=status");
  EXPECT_EQ(member(o.out, "logged_in"), "true");
  EXPECT_EQ(member(o.out, "account"), "\"stand-in user\"");
  n.pending("");
  EXPECT_EQ(member(n.get("action=status").out, "pending"), "true");
}

}  // namespace
