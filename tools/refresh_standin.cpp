// quorin-refresh-standin: a local stand-in for the refresh CLI. Moves the
// expiry of the given credentials file eight hours ahead, keeping every other
// byte, and never touches the network.
//
//   --credentials-file PATH [--force]
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "standin.h"
#include "status/locations.h"
#include "support/json_read.h"

namespace {

// The extent of a number value, with its quotes if it is written as a string.
size_t number_length(const char* v) {
  const char* p = v;
  if (*p == '"') p++;
  if (*p == '-' || *p == '+') p++;
  while (*p >= '0' && *p <= '9') p++;
  if (*v == '"' && *p == '"') p++;
  return static_cast<size_t>(p - v);
}

}  // namespace

int main(int argc, char** argv) {
  std::string path;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--credentials-file") == 0 && i + 1 < argc) {
      path = argv[++i];
    } else if (strcmp(argv[i], "--force") != 0) {
      return reply("{\"ok\":false,\"error\":\"usage\"}", 2);
    }
  }
  if (path.empty()) return reply("{\"ok\":false,\"error\":\"usage\"}", 2);

  char* raw = read_file(path.c_str());
  if (raw == nullptr) return reply("{\"ok\":false,\"error\":\"no_credentials\"}", 1);
  std::string text = raw;
  free(raw);
  size_t key = text.find("\"quorinAiOauth\"");
  size_t obj = key == std::string::npos ? key : text.find('{', key);
  if (obj == std::string::npos) return reply("{\"ok\":false,\"error\":\"no_credentials\"}", 1);

  const char* start = text.c_str() + obj;
  const char* value = json_find_key(start, text.c_str() + text.size(), "expiresAt");
  int64_t old = value ? json_num_field(start, text.c_str() + text.size(), "expiresAt") : 0;
  // Keep the unit the file uses (seconds stay seconds), and always move the
  // expiry forward, even when two refreshes fall into the same second.
  bool seconds = old > 0 && old <= 100000000000;
  int64_t renewed = seconds ? unix_now() + kTokenLifetime : unix_now_ms() + kTokenLifetime * 1000;
  if (renewed <= old && old < INT64_MAX) renewed = old + 1;
  std::string number = std::to_string(renewed);
  if (value != nullptr) {
    text.replace(static_cast<size_t>(value - text.c_str()), number_length(value), number);
  } else {
    bool empty = text.find_first_not_of(" \t\r\n", obj + 1) == text.find('}', obj + 1);
    text.insert(obj + 1, "\"expiresAt\":" + number + (empty ? "" : ","));
  }
  if (!write_whole(path, text)) return reply("{\"ok\":false,\"error\":\"cannot_write\"}", 1);
  return reply("{\"ok\":true,\"expires_at\":" + number + "}");
}
