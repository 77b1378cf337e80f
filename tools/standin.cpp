#include "standin.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <random>

#ifdef _WIN32
#include <windows.h>
#endif

#include "support/buf.h"

bool write_whole(const std::string& path, const std::string& text) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path parent = fs::path(path).parent_path();
  if (!parent.empty()) fs::create_directories(parent, ec);
  std::string tmp = path + ".tmp-" + random_hex(6);
  FILE* f = fopen(tmp.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = fclose(f) == 0 && ok;
#ifdef _WIN32
  ok = ok && MoveFileExA(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
  ok = ok && rename(tmp.c_str(), path.c_str()) == 0;
#endif
  if (!ok) remove(tmp.c_str());
  return ok;
}

bool remove_file(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
  return !std::filesystem::exists(path, ec);
}

std::string random_hex(size_t n) {
  static const char kHex[] = "0123456789abcdef";
  std::random_device rd;
  std::string s;
  for (size_t i = 0; i < n; i++) {
    unsigned byte = rd() & 0xff;
    s += kHex[byte >> 4];
    s += kHex[byte & 15];
  }
  return s;
}

std::string code_for_state(const std::string& state) {
  uint32_t h = 0x811c9dc5;
  for (unsigned char c : "quorin-standin:" + state) {
    h ^= c;
    h *= 0x01000193;
  }
  char code[16];
  snprintf(code, sizeof code, "qc_%08x", h);
  return code;
}

std::string json_string(const std::string& text) {
  buf b{};
  buf_json(&b, text.c_str());
  std::string s(b.data, b.len);
  buf_free(&b);
  return s;
}

int reply(const std::string& json, int status) {
  printf("%s\n", json.c_str());
  return status;
}

int64_t unix_now() {
  return static_cast<int64_t>(time(nullptr));
}

int64_t unix_now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}
