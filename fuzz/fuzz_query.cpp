// Query accessors with the name check and the force flag.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cgi/query.h"
#include "fields.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto f = split_fields(data, size, 2);
  std::string query = c_text(f[1]);
  const char* names[] = {"pwd", "name", "force", "action", "format", "code", nullptr};
  std::string own = c_text(f[0]);
  names[6] = own.c_str();
  const size_t caps[] = {256, 96, 8, 64, 32, 2048, 1};
  for (size_t i = 0; i < 7; i++) {
    query_has(query.c_str(), names[i]);
    char* dst = static_cast<char*>(malloc(caps[i]));
    int found = get_query_val(query.c_str(), names[i], dst, caps[i]);
    if (strlen(dst) >= caps[i] || (!found && dst[0] != '\0')) abort();
    if (found && strstr(query.c_str(), dst) == nullptr) abort();  // a raw copy of the query
    if (i == 1 && name_valid(dst)) {
      for (const char* p = dst; *p; p++)
        if (!isalnum(static_cast<unsigned char>(*p)) && !strchr("-._", *p)) abort();
      if (strlen(dst) > 64 || dst[0] == '.') abort();
    }
    if (i == 2) force_flag(dst, found);
    free(dst);
  }
  return 0;
}
