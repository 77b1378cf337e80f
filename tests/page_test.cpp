// The console page as the web server receives it: the fixed header block, the
// template with both theme blocks spliced in, and which requests get it.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "harness.h"

namespace {

const std::string kPageHeaders =
    "Content-Type: text/html; charset=utf-8\r\n"
    "Cache-Control: no-store\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Referrer-Policy: no-referrer\r\n"
    "Content-Security-Policy: default-src 'none'; script-src 'unsafe-inline'; "
    "style-src 'unsafe-inline'; img-src data:; connect-src 'self'; base-uri 'none'; "
    "form-action 'none'; frame-ancestors *\r\n"
    "\r\n";

std::string asset(const std::string& name) {
  std::ifstream in(std::string(ASSETS_DIR) + "/" + name, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// A page as the asset files say it should be served.
std::string expected_body(const std::string& file = "page.html") {
  std::string head = asset("theme_head.html");
  if (!head.empty() && head.back() == '\n') head.pop_back();
  std::string page = asset(file);
  const std::pair<std::string, std::string> markers[] = {
      {"<!-- @theme_head -->", head}, {"<!-- @theme_tail -->", asset("theme_tail.html")}};
  for (const auto& [marker, block] : markers) {
    size_t at = page.find(marker);
    if (at != std::string::npos) page.replace(at, marker.size(), block);
  }
  return page;
}

outcome page_request(std::vector<std::string> env) {
  return run_plugin({std::move(env), {}, "", ""});
}

bool is_page(const outcome& o) {
  return o.out.compare(0, kPageHeaders.size(), kPageHeaders) == 0;
}

TEST(Page, HeaderBlockIsExact) {
  EXPECT_EQ(kPageHeaders.size(), 321u);
  outcome o = page_request({});
  ASSERT_GE(o.out.size(), 321u);
  EXPECT_EQ(o.out.substr(0, 321), kPageHeaders);
  EXPECT_EQ(o.exit_code, 0);
}

TEST(Page, BodyIsTheTemplateWithBothThemeBlocks) {
  outcome o = page_request({"QUERY_STRING="});
  ASSERT_TRUE(is_page(o));
  std::string body = o.out.substr(kPageHeaders.size());
  EXPECT_EQ(body.find('\x01'), std::string::npos);
  EXPECT_EQ(body.find('\x02'), std::string::npos);
  EXPECT_EQ(body.find('\r'), std::string::npos);
  EXPECT_EQ(body, expected_body());
}

// Landmarks in their order, so a marker in the wrong place or a block cut short
// shows even if the asset files themselves were changed together.
TEST(Page, BlocksStandWhereTheyBelong) {
  std::string body = page_request({}).out.substr(kPageHeaders.size());
  EXPECT_EQ(body.rfind("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">", 0), 0u);
  const char* in_order[] = {
      "<title>quorin</title>\n<script>",  // head marker on its own line
      "bot_theme",                        // the theme bootstrap
      "--bg: #000000",                    // the shared style sheet
      "</style>\n<style>",                // head block ends, page style begins
      "</head>",
      "<div id=\"app\">",
      "id=\"toast\"",
      "function fmtExpiry",   // the page's own script
      "</script>\n<script>",  // tail block follows it
      "tl-theme-request",
      "themeToggle",
      "</script>\n</body></html>\n",
  };
  size_t pos = 0;
  for (const char* landmark : in_order) {
    size_t at = body.find(landmark, pos);
    ASSERT_NE(at, std::string::npos) << landmark;
    pos = at + 1;
  }
  EXPECT_EQ(body.size() - body.rfind("</body></html>\n"), 15u);
}

TEST(Page, ServedOnlyWithoutActionAndFormat) {
  struct {
    const char* query;  // null: no QUERY_STRING at all
    bool page;
  } cases[] = {
      {nullptr, true},
      {"", true},
      {"theme=dark&embed=1", true},
      {"plugin=quorin&node=n1&id=7&pwd=x", true},
      {"Action=status", true},  // names are case-sensitive
      {"transaction=1", true},  // a longer name is another parameter
      {"formats=1", true},
      {"format", false},
      {"format=json", false},
      {"action", false},
      {"action=", false},
      {"action=status", false},
      {"x=1&action=nope", false},
  };
  for (const auto& c : cases) {
    std::vector<std::string> env;
    if (c.query != nullptr) env.push_back(std::string("QUERY_STRING=") + c.query);
    outcome o = page_request(env);
    EXPECT_EQ(is_page(o), c.page) << (c.query ? c.query : "(no query)");
    if (c.page) {
      EXPECT_EQ(o.exit_code, 0) << c.query;
    }
  }
}

TEST(Page, GateAndNameCheckComeFirst) {
  // A browser asking for the page gets one that asks for the password; any
  // other request the fixed JSON refusal, byte for byte.
  const std::string json_refusal =
      "Status: 401 Unauthorized\r\nContent-Type: application/json; charset=utf-8\r\n"
      "Cache-Control: no-store\r\n\r\n{\"ok\":false,\"error\":\"invalid node password\"}\n";
  const std::string html = "HTTP_ACCEPT=text/html,application/xhtml+xml,*/*;q=0.8";
  struct {
    std::vector<std::string> env;
    bool page;
  } refusals[] = {
      {{html}, true},
      {{"HTTP_ACCEPT=text/html", "QUERY_STRING=theme=dark&pwd=wrong"}, true},
      {{html, "QUERY_STRING=name=.bad"}, true},
      {{"HTTP_ACCEPT=text/html;level=1 , application/json;q=0.999"}, true},
      {{"HTTP_ACCEPT=application/*;q=0.5, text/html;q=0.6"}, true},
      {{}, false},
      {{"HTTP_ACCEPT=*/*"}, false},
      {{"HTTP_ACCEPT=application/json, text/html;q=0.1"}, false},
      {{"HTTP_ACCEPT=text/html;q=0"}, false},
      {{"HTTP_ACCEPT=text/htmlx"}, false},
      {{"HTTP_ACCEPT=text/html;q=1.5, */*;q=0.1"}, false},
      {{"HTTP_ACCEPT=TEXT/HTML"}, false},
      {{html, "QUERY_STRING=action=status"}, false},
      {{html, "QUERY_STRING=format"}, false},
  };
  for (auto& c : refusals) {
    c.env.push_back("BOT_PASSWORD=s3cret");
    outcome o = page_request(c.env);
    EXPECT_EQ(o.out, c.page ? "Status: 401 Unauthorized\r\n" + kPageHeaders +
                                  expected_body("password.html")
                            : json_refusal)
        << c.env[0];
    EXPECT_EQ(o.exit_code, 0);
  }
  EXPECT_TRUE(is_page(page_request({"BOT_PASSWORD=s3cret", "QUERY_STRING=pwd=s3cret"})));
  EXPECT_TRUE(is_page(page_request({"BOT_PASSWORD=s3cret", "HTTP_X_BOT_PASSWORD=s3cret"})));

  outcome bad = page_request({"QUERY_STRING=name=../x"});
  EXPECT_EQ(bad.out, error_response(400, "Bad Request", "bad_name",
                                    "account names use letters, digits, - _ . (max 64)"));
  EXPECT_EQ(bad.exit_code, 1);
}

}  // namespace
