#include "status/scan_creds.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct scanned {
  status_rec rec;
  account_rec entry;
};

scanned scan(const std::string& text) {
  scanned s;
  memset(&s, 0, sizeof s);
  scan_creds(text.c_str(), &s.rec, &s.entry);
  return s;
}

std::string oauth(const std::string& members) {
  return "{\"quorinAiOauth\":{" + members + "}}";
}

TEST(ScanCreds, LoginFacts) {
  struct {
    std::string text;
    int logged_in, has_refresh;
    int64_t expires_at;
  } cases[] = {
      {oauth(R"("expiresAt":1767225600000)"), 1, 0, 1767225600000},
      {oauth(R"("accessToken":"")"), 1, 0, 0},
      {oauth(R"("accessToken":null)"), 0, 0, 0},
      {oauth(R"("refreshToken":"r")"), 1, 1, 0},
      {oauth(R"("expiresAt":"1767225600")"), 1, 0, 1767225600},
      {oauth(R"("expiresAt":-5)"), 0, 0, -5},
      {oauth(R"("expiresAt":"soon")"), 0, 0, 0},
      {oauth(R"("accessToken":"a","refreshToken":null,"expiresAt":0)"), 1, 0, 0},
      {R"({"other":{"accessToken":"a"}})", 0, 0, 0},
      {"", 0, 0, 0},
      // The key may stand anywhere; the object is the next brace after it.
      {R"(junk "quorinAiOauth" : {"refreshToken":"r","expiresAt":9})", 1, 1, 9},
  };
  for (const auto& c : cases) {
    scanned s = scan(c.text);
    EXPECT_EQ(s.rec.logged_in, c.logged_in) << c.text;
    EXPECT_EQ(s.rec.has_refresh, c.has_refresh) << c.text;
    EXPECT_EQ(s.rec.expires_at, c.expires_at) << c.text;
    EXPECT_EQ(s.entry.logged_in, c.logged_in) << c.text;
    EXPECT_EQ(s.entry.has_refresh, c.has_refresh) << c.text;
    EXPECT_EQ(s.entry.expires_at, c.expires_at) << c.text;
  }
}

TEST(ScanCreds, SubscriptionDecodedAndCut) {
  EXPECT_STREQ(scan(oauth(R"("subscriptionType":"pro")")).rec.subscription, "pro");
  EXPECT_STREQ(scan(oauth(R"("subscriptionType":"caf\u00e9")")).rec.subscription, "caf\xc3\xa9");
  EXPECT_STREQ(scan(oauth(R"("subscriptionType":null)")).rec.subscription, "");
  EXPECT_STREQ(scan(oauth(R"("subscriptionType":7)")).rec.subscription, "7");
  std::string longer(100, 's');
  EXPECT_EQ(std::string(scan(oauth("\"subscriptionType\":\"" + longer + "\"")).rec.subscription),
            std::string(63, 's'));
}

TEST(ScanCreds, ScopesJoin) {
  struct {
    std::string text;
    std::string scopes;
  } cases[] = {
      {oauth(R"("scopes":["user:inference","user:profile"])"), "user:inference,user:profile"},
      {oauth(R"("scopes":["", "a"])"), "a"},
      {oauth(R"("scopes":["a", "", "b", ""])"), "a,,b,"},
      {oauth(R"("scopes":[1, true, "a", null, "b"])"), "a,b"},
      {oauth(R"("scopes":[])"), ""},
      {oauth(R"("scopes":["a\/b"])"), "a\\/b"},
      {oauth(R"("scopes":"none")"), ""},
      {oauth(R"("scopes":["open)"), ""},
      {oauth(R"("x":1},"later":{"scopes":["late"])"), "late"},
  };
  for (const auto& c : cases) EXPECT_EQ(std::string(scan(c.text).rec.scopes), c.scopes) << c.text;

  std::string many = "\"scopes\":[";
  for (int i = 0; i < 40; i++)
    many += std::string(i ? "," : "") + "\"scope" + std::to_string(i) + "\"";
  std::string joined = scan(oauth(many + "]")).rec.scopes;
  EXPECT_EQ(joined.size(), 255u);
  EXPECT_EQ(joined.substr(0, 13), "scope0,scope1");
}

TEST(ScanCreds, NullTextAndKeptScopes) {
  status_rec rec;
  memset(&rec, 0, sizeof rec);
  scan_creds(nullptr, &rec, nullptr);
  EXPECT_EQ(rec.logged_in, 0);
  strcpy(rec.scopes, "earlier");
  scan_creds(oauth(R"("scopes":["new"])").c_str(), &rec, nullptr);
  EXPECT_STREQ(rec.scopes, "earlier");
}

}  // namespace
