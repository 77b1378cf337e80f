#include "request/serve_page.h"

#include <cstring>

#include "cgi/respond.h"
#include "request/page_assets.h"

namespace {

constexpr char kHeadMarker = '\x01';
constexpr char kTailMarker = '\x02';

void write_bytes(const unsigned char* data, size_t len) {
  write_out(reinterpret_cast<const char*>(data), len);
}

// A template with its two markers replaced by the theme blocks, wherever they stand.
void write_template(const unsigned char* page) {
  const char* p = reinterpret_cast<const char*>(page);
  while (*p != '\0') {
    size_t run = strcspn(p, "\x01\x02");
    write_out(p, run);
    p += run;
    if (*p == kHeadMarker) write_bytes(theme_head, theme_head_len);
    if (*p == kTailMarker) write_bytes(theme_tail, theme_tail_len);
    if (*p != '\0') p++;
  }
}

}  // namespace

// The page is the same for every request.
int serve_page() {
  write_bytes(html_headers, html_headers_len);
  write_template(page_template);
  return 0;
}

void serve_password_page() {
  static constexpr char kStatus[] = "Status: 401 Unauthorized\r\n";
  write_out(kStatus, sizeof kStatus - 1);
  write_bytes(html_headers, html_headers_len);
  write_template(password_template);
}
