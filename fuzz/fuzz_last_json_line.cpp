// The reply-line search over a random capture, and the start reply's fields
// read from that line to the end of the capture.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "support/json_read.h"
#include "tool/runner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  buf capture{};
  buf_add(&capture, data, size);
  const char* line = last_json_line(&capture);
  if (line != nullptr) {
    if (line < capture.data || line >= capture.data + capture.len || *line != '{') abort();
    if (line != capture.data && line[-1] != '\n') abort();
    const char* end = capture.data + capture.len;
    char url[4096], text[512];
    json_str_field(line, end, "auth_url", url, sizeof url);
    json_str_field(line, end, "hint", text, sizeof text);
    json_num_field(line, end, "expires_in");
    json_bool_field(line, end, "ok", 1);
  }
  buf_free(&capture);
  return 0;
}
