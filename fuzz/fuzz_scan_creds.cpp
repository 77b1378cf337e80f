// The credentials scan over random file texts: every text field stays within
// its area and terminated.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "status/scan_creds.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  status_rec rec;
  account_rec entry;
  memset(&rec, 0, sizeof rec);
  memset(&entry, 0, sizeof entry);
  scan_creds(text.c_str(), &rec, &entry);
  if (strnlen(rec.subscription, sizeof rec.subscription) == sizeof rec.subscription) abort();
  if (strnlen(rec.scopes, sizeof rec.scopes) == sizeof rec.scopes) abort();
  if (rec.logged_in != entry.logged_in || rec.expires_at != entry.expires_at) abort();
  if (rec.logged_in != (rec.logged_in ? 1 : 0)) abort();
  return 0;
}
