#include "cgi/respond.h"

#include <cstdio>

static constexpr char kJsonHeaders[] =
    "Content-Type: application/json; charset=utf-8\r\n"
    "Cache-Control: no-store\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "\r\n";

void write_out(const char* data, size_t len) {
  fwrite(data, 1, len, stdout);
}

static void write_buf(buf* b) {
  if (b->data != nullptr) write_out(b->data, b->len);
  buf_free(b);
}

void emit_json(buf* body) {
  write_out(kJsonHeaders, sizeof kJsonHeaders - 1);
  write_buf(body);
}

void emit_error(int status, const char* reason, const char* error, const char* detail) {
  buf b{};
  buf_addf(&b, "Status: %d %s\r\n%s", status, reason, kJsonHeaders);
  buf_adds(&b, "{\"ok\":false,\"error\":");
  buf_json(&b, error);
  if (detail[0] != '\0') {
    buf_adds(&b, ",\"detail\":");
    buf_json(&b, detail);
  }
  buf_adds(&b, "}\n");
  write_buf(&b);
}
