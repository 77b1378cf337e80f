#include "status/status_doc.h"

#include "status/collect.h"

namespace {

const char* boolean(int32_t flag) {
  return flag ? "true" : "false";
}

void add_string(buf* b, const char* key, const char* value) {
  buf_addf(b, ",\"%s\":", key);
  buf_json(b, value);
}

}  // namespace

void emit_status(buf* b, const status_rec* rec) {
  buf_addf(b,
           "\"logged_in\":%s,\"expires_at\":%lld,\"expires_at_sec\":%lld,"
           "\"expires_in_sec\":%lld,\"expired\":%s,\"has_refresh\":%s",
           boolean(rec->logged_in), static_cast<long long>(rec->expires_at),
           static_cast<long long>(expiry_seconds(rec->expires_at)),
           static_cast<long long>(rec->expires_in_sec), boolean(rec->expired),
           boolean(rec->has_refresh));
  add_string(b, "account", rec->account);
  buf_addf(b, ",\"pending\":%s,\"cli_present\":%s", boolean(rec->pending),
           boolean(rec->cli_present));
  add_string(b, "credentials_path", rec->credentials_path);
  add_string(b, "profile", rec->profile);
  buf_addf(b, ",\"profile_exists\":%s,\"named_accounts\":%s", boolean(rec->profile_exists),
           boolean(rec->account_count >= 2));
  add_string(b, "subscription", rec->subscription);
  add_string(b, "scopes", rec->scopes);
  buf_adds(b, ",\"accounts\":[");
  for (int i = 0; i < rec->account_count; i++) {
    const account_rec& a = rec->accounts[i];
    buf_adds(b, i > 0 ? ",{\"name\":" : "{\"name\":");
    buf_json(b, a.name);
    buf_addf(b, ",\"logged_in\":%s,\"has_refresh\":%s,\"expires_in_sec\":%lld,\"expired\":%s}",
             boolean(a.logged_in), boolean(a.has_refresh), static_cast<long long>(a.expires_in_sec),
             boolean(a.expired));
  }
  buf_adds(b, "]");
}
