#include "request/gate.h"

#include <cstring>

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

// A browser opening the console itself, rather than a call of an action.
static bool wants_page() {
  const char* query = env_get("QUERY_STRING");
  const char* accept = env_get("HTTP_ACCEPT");
  return !query_has(query, "action") && !query_has(query, "format") && accept != nullptr &&
         strstr(accept, "text/html") != nullptr;
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
