#include "status/scan_creds.h"

#include <cstring>

#include "support/json_read.h"

namespace {

// Joins the strings of the first "scopes" array after from with ",", bytes as
// they stand, into out (at most 255 characters).
void join_scopes(const char* from, char out[256]) {
  const char* key = strstr(from, "\"scopes\"");
  const char* open = key ? strchr(key + 8, '[') : nullptr;
  const char* close = open ? strchr(open + 1, ']') : nullptr;
  if (close == nullptr) return;
  size_t n = 0;
  const char* p = open + 1;
  while (p < close && n < 255) {
    if (*p != '"') {
      p++;
      continue;
    }
    const char* end = strchr(p + 1, '"');
    if (end == nullptr || end > close) break;
    if (n > 0) out[n++] = ',';
    for (const char* c = p + 1; c < end && n < 255; c++) out[n++] = *c;
    p = end + 1;
  }
  out[n] = '\0';
}

}  // namespace

void scan_creds(const char* text, status_rec* rec, account_rec* entry) {
  if (text == nullptr) return;
  const char* at = strstr(text, "\"quorinAiOauth\"");
  if (at == nullptr) return;
  const char* obj = strchr(at, '{');
  if (obj == nullptr) obj = at;
  const char* end = obj + strlen(obj);

  char scratch[8];  // token values are never kept
  bool access = json_str_field(obj, end, "accessToken", scratch, sizeof scratch) != 0;
  if (json_str_field(obj, end, "refreshToken", scratch, sizeof scratch)) {
    rec->has_refresh = 1;
    if (entry) entry->has_refresh = 1;
  }
  int64_t expires = json_num_field(obj, end, "expiresAt");  // 0 when missing
  rec->expires_at = expires;
  if (entry) entry->expires_at = expires;
  json_str_field(obj, end, "subscriptionType", rec->subscription, sizeof rec->subscription);
  if (rec->scopes[0] == '\0') join_scopes(obj, rec->scopes);

  int logged_in = access || rec->has_refresh || rec->expires_at > 0;
  rec->logged_in = logged_in;
  if (entry) entry->logged_in = logged_in;
}
