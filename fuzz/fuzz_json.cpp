// JSON field readers over random text and random keys: no reader may read past
// the text's NUL or write past its output area.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fields.h"
#include "support/json_read.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto f = split_fields(data, size, 3);
  std::string key = c_text(f[0]);
  std::string text = c_text(f[2]);
  size_t cap = 1 + (f[1].empty() ? 63 : static_cast<unsigned char>(f[1][0]) * 16u % 4096);
  const char* start = text.c_str();
  const char* end = start + text.size();
  // Also a shorter view, as for a reply line inside a longer capture.
  const char* mid =
      start +
      (f[1].size() > 1 ? static_cast<unsigned char>(f[1][1]) % (text.size() + 1) : text.size());

  char* out = static_cast<char*>(malloc(cap));  // exact size: ASan sees any overrun
  for (const char* stop : {end, mid}) {
    if (json_str_field(start, stop, key.c_str(), out, cap) && strlen(out) >= cap) abort();
    json_bool_field(start, stop, key.c_str(), 1);
    json_num_field(start, stop, key.c_str());
    if (const char* v = json_find_key(start, stop, key.c_str())) {
      if (v < start || v >= stop) abort();
      const char* cur = v;
      json_read_string_at(&cur, out, cap);
    }
  }
  for (const char* q = strchr(start, '"'); q != nullptr; q = strchr(q + 1, '"')) {
    const char* cur = q;
    json_read_string_at(&cur, out, cap);
    if (cur < q || cur > end) abort();
  }
  memcpy(out, "", 1);
  trim_tail(out);
  free(out);
  return 0;
}
