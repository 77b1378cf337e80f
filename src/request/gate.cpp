#include "request/gate.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "cgi/query.h"
#include "cgi/respond.h"
#include "platform/platform.h"
#include "request/serve_page.h"

// Compares a candidate with the password in time that depends only on the
// password's length, so a wrong guess tells nothing about how close it was.
static bool secret_equals(const char* candidate, const char* password) {
  size_t plen = strlen(password);
  unsigned char diff = 0;
  bool ended = false;
  for (size_t i = 0; i < plen; i++) {
    unsigned char c = ended ? 0 : static_cast<unsigned char>(candidate[i]);
    ended = ended || c == 0;
    diff |= static_cast<unsigned char>(c ^ static_cast<unsigned char>(password[i]));
  }
  // Equal only if the candidate also ends exactly where the password does.
  return diff == 0 && !ended && candidate[plen] == '\0';
}

static bool ascii_iequals(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; i++) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y || x == '\0') return false;
  }
  return true;
}

static bool bearer_matches(const char* value, const char* password) {
  while (*value == ' ') value++;
  if (!ascii_iequals(value, "Bearer ", 7)) return false;
  value += 7;
  while (*value == ' ') value++;
  return secret_equals(value, password);
}

bool gate_admits() {
  const char* password = env_setting("BOT_PASSWORD");
  if (password == nullptr) return true;
  const char* header = env_get("HTTP_X_BOT_PASSWORD");
  if (header != nullptr && secret_equals(header, password)) return true;
  const char* auth = env_get("HTTP_AUTHORIZATION");
  if (auth != nullptr && bearer_matches(auth, password)) return true;
  char pwd[256];
  return get_query_val(env_get("QUERY_STRING"), "pwd", pwd, sizeof pwd) &&
         secret_equals(pwd, password);
}

static std::string_view trim_ows(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A q value in thousandths: "0" to "1" with up to three decimals; anything
// else counts as 0.
static int q_thousandths(std::string_view v) {
  if (v.empty() || (v[0] != '0' && v[0] != '1')) return 0;
  if (v.size() > 1 && (v[1] != '.' || v.size() > 5)) return 0;
  int q = (v[0] - '0') * 1000;
  for (size_t i = 2, scale = 100; i < v.size(); i++, scale /= 10) {
    if (v[i] < '0' || v[i] > '9') return 0;
    q += (v[i] - '0') * static_cast<int>(scale);
  }
  return q <= 1000 ? q : 0;
}

// The weight (0 to 1000) that an Accept header gives the media range `range`
// (matched exactly, as browsers write it), or -1 when it does not name it.
static int accept_weight(std::string_view accept, std::string_view range) {
  int best = -1;
  while (!accept.empty()) {
    size_t comma = accept.find(',');
    std::string_view entry = accept.substr(0, comma);
    accept = comma == std::string_view::npos ? std::string_view() : accept.substr(comma + 1);
    size_t semi = entry.find(';');
    if (trim_ows(entry.substr(0, semi)) != range) continue;
    int q = 1000;
    while (semi != std::string_view::npos) {
      entry.remove_prefix(semi + 1);
      semi = entry.find(';');
      std::string_view param = trim_ows(entry.substr(0, semi));
      if (param.size() >= 2 && (param[0] == 'q' || param[0] == 'Q') && param[1] == '=') {
        q = q_thousandths(param.substr(2));
      }
    }
    best = std::max(best, q);
  }
  return best;
}

// A browser opening the console itself, rather than a call of an action: no
// action, no format, and an Accept header that prefers HTML to JSON.
static bool wants_page() {
  const char* query = env_get("QUERY_STRING");
  const char* accept = env_get("HTTP_ACCEPT");
  if (query_has(query, "action") || query_has(query, "format") || accept == nullptr) return false;
  int html = accept_weight(accept, "text/html");
  int json = accept_weight(accept, "application/json");
  if (json < 0) json = accept_weight(accept, "application/*");
  if (json < 0) json = accept_weight(accept, "*/*");
  return html > 0 && html > json;
}

void gate_refuse() {
  if (wants_page()) {
    serve_password_page();
    return;
  }
  static constexpr char kRefusal[] =
      "Status: 401 Unauthorized\r\n"
      "Content-Type: application/json; charset=utf-8\r\n"
      "Cache-Control: no-store\r\n"
      "\r\n"
      "{\"ok\":false,\"error\":\"invalid node password\"}\n";
  write_out(kRefusal, sizeof kRefusal - 1);
}
