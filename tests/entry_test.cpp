// The entry point as a web server sees it: discovery, version, the password
// gate, the account-name check and routing, byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "harness.h"

namespace {

const std::string kMeta = "{\"name\":\"quorin\",\"desc\":\"Quorin login\"}\n";
const std::string kRefusal =
    "Status: 401 Unauthorized\r\nContent-Type: application/json; charset=utf-8\r\n"
    "Cache-Control: no-store\r\n\r\n{\"ok\":false,\"error\":\"invalid node password\"}\n";
const std::string kBadName = error_response(400, "Bad Request", "bad_name",
                                            "account names use letters, digits, - _ . (max 64)");

// An admitted request with this query answers 404 naming the action.
std::string unknown(const std::string& action) {
  return error_response(404, "Not Found", "unknown_action", action);
}

outcome run(std::vector<std::string> env, std::vector<std::string> args = {}) {
  return run_plugin({std::move(env), std::move(args), "", ""});
}

TEST(StartUp, DiscoveryAndVersionLines) {
  const std::string version_line = "plugin_quorincode_login " + project_version() + "\n";
  struct {
    std::vector<std::string> env;
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{}, {"--meta"}, kMeta},
      {{"TL_PLUGIN_META="}, {}, kMeta},
      {{"TL_PLUGIN_META=0"}, {"--version"}, kMeta},
      {{}, {"--version"}, version_line},
      {{}, {"-v"}, version_line},
      {{"BOT_PASSWORD=secret"}, {"--meta"}, kMeta},
      {{"BOT_PASSWORD=secret"}, {"-v", "--meta"}, version_line},
  };
  for (const auto& c : cases) {
    outcome o = run(c.env, c.args);
    EXPECT_EQ(o.out, c.out) << (c.args.empty() ? "env" : c.args[0]);
    EXPECT_EQ(o.exit_code, 0);
    EXPECT_EQ(o.err, "");
  }
}

TEST(Gate, AdmitsOrRefuses) {
  const std::string q = "QUERY_STRING=action=probe";
  struct {
    const char* why;
    std::vector<std::string> env;
    bool admitted;
  } cases[] = {
      {"no node password", {q, "HTTP_X_BOT_PASSWORD=whatever"}, true},
      {"empty node password", {q, "BOT_PASSWORD="}, true},
      {"nothing given", {q, "BOT_PASSWORD=s3cret"}, false},
      {"header", {q, "BOT_PASSWORD=s3cret", "HTTP_X_BOT_PASSWORD=s3cret"}, true},
      {"header differs in case", {q, "BOT_PASSWORD=s3cret", "HTTP_X_BOT_PASSWORD=S3cret"}, false},
      {"header with a blank", {q, "BOT_PASSWORD=s3cret", "HTTP_X_BOT_PASSWORD=s3cret "}, false},
      {"header prefix", {q, "BOT_PASSWORD=s3cret", "HTTP_X_BOT_PASSWORD=s3cre"}, false},
      {"header longer", {q, "BOT_PASSWORD=s3cret", "HTTP_X_BOT_PASSWORD=s3crets"}, false},
      {"bearer", {q, "BOT_PASSWORD=s3cret", "HTTP_AUTHORIZATION=Bearer s3cret"}, true},
      {"bearer lower case, blanks",
       {q, "BOT_PASSWORD=s3cret", "HTTP_AUTHORIZATION=  bearer  s3cret"},
       true},
      {"bearer with a tab", {q, "BOT_PASSWORD=s3cret", "HTTP_AUTHORIZATION=bearer\ts3cret"}, false},
      {"basic scheme", {q, "BOT_PASSWORD=s3cret", "HTTP_AUTHORIZATION=Basic s3cret"}, false},
      {"bare bearer", {q, "BOT_PASSWORD=s3cret", "HTTP_AUTHORIZATION=Bearer"}, false},
      {"password with a leading blank through bearer",
       {q, "BOT_PASSWORD= pw", "HTTP_AUTHORIZATION=Bearer  pw"},
       false},
      {"wrong header, right pwd",
       {"QUERY_STRING=action=probe&pwd=s3cret", "BOT_PASSWORD=s3cret", "HTTP_X_BOT_PASSWORD=no"},
       true},
      {"pwd first", {"QUERY_STRING=pwd=s3cret&action=probe", "BOT_PASSWORD=s3cret"}, true},
      {"pwd is not decoded", {"QUERY_STRING=action=probe&pwd=a%20b", "BOT_PASSWORD=a b"}, false},
      {"pwd raw escape", {"QUERY_STRING=action=probe&pwd=a%20b", "BOT_PASSWORD=a%20b"}, true},
      {"pwd plus stays", {"QUERY_STRING=action=probe&pwd=a+b", "BOT_PASSWORD=a b"}, false},
      {"empty pwd", {"QUERY_STRING=action=probe&pwd=", "BOT_PASSWORD=s3cret"}, false},
  };
  for (const auto& c : cases) {
    outcome o = run(c.env);
    EXPECT_EQ(o.out, c.admitted ? unknown("probe") : kRefusal) << c.why;
    EXPECT_EQ(o.exit_code, c.admitted ? 1 : 0) << c.why;
  }
}

TEST(Gate, PwdIsCutAt255Characters) {
  std::string pw255(255, 'p');
  std::string pw256(256, 'p');
  outcome o = run({"QUERY_STRING=action=probe&pwd=" + pw255 + "X", "BOT_PASSWORD=" + pw255});
  EXPECT_EQ(o.out, unknown("probe"));
  o = run({"QUERY_STRING=action=probe&pwd=" + pw256, "BOT_PASSWORD=" + pw256});
  EXPECT_EQ(o.out, kRefusal);
  o = run({"QUERY_STRING=action=probe", "BOT_PASSWORD=" + pw256, "HTTP_X_BOT_PASSWORD=" + pw256});
  EXPECT_EQ(o.out, unknown("probe"));
}

TEST(Gate, ComesBeforeTheNameCheck) {
  outcome o = run({"QUERY_STRING=name=.bad", "BOT_PASSWORD=pw"});
  EXPECT_EQ(o.out, kRefusal);
  EXPECT_EQ(o.exit_code, 0);
}

TEST(NameCheck, RefusesOrAccepts) {
  struct {
    std::string name;
    bool ok;
  } cases[] = {
      {"", true},
      {"work", true},
      {"-", true},
      {"a..b", true},
      {"A-z_0.9", true},
      {std::string(64, 'n'), true},
      {std::string(65, 'n'), false},
      {std::string(200, 'n'), false},
      {".hidden", false},
      {"a/b", false},
      {"a%2Fb", false},
      {"a b", false},
      {"a+b", false},
      {"caf\xc3\xa9", false},
      {"a\\b", false},
      {"a;b", false},
  };
  for (const auto& c : cases) {
    outcome o = run({"QUERY_STRING=action=probe&name=" + c.name});
    EXPECT_EQ(o.out, c.ok ? unknown("probe") : kBadName) << c.name;
    EXPECT_EQ(o.exit_code, 1) << c.name;
  }
}

TEST(NameCheck, AppliesToPageRequestsToo) {
  outcome o = run({"QUERY_STRING=name=.x"});
  EXPECT_EQ(o.out, kBadName);
  EXPECT_EQ(o.exit_code, 1);
}

TEST(Routing, UnknownActions) {
  struct {
    std::string query;
    std::string detail;
  } cases[] = {
      {"action=STATUS", "STATUS"},
      {"action=probe&action=status", "probe"},
      {"format=json&action=x%20y", "x%20y"},
      {"action=" + std::string(100, 'a'), std::string(63, 'a')},
      {"action=a\"b\\c", "a\\\"b\\\\c"},
  };
  for (const auto& c : cases) {
    outcome o = run({"QUERY_STRING=" + c.query});
    EXPECT_EQ(o.out, unknown(c.detail)) << c.query;
    EXPECT_EQ(o.exit_code, 1);
  }
}

// The header lines leave with CR LF and the body with LF, byte for byte: a
// stream that translates line ends would write CR CR LF.
TEST(Response, LineEndsLeaveUntranslated) {
  outcome o = run({"QUERY_STRING=action=x"});
  EXPECT_EQ(o.out,
            "Status: 404 Not Found\r\nContent-Type: application/json; charset=utf-8\r\n"
            "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n"
            "{\"ok\":false,\"error\":\"unknown_action\",\"detail\":\"x\"}\n");
  EXPECT_EQ(o.out.find("\r\r"), std::string::npos);
}

}  // namespace
