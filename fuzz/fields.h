// Splits a fuzz input into text fields at a separator byte, so that seeds can
// be written by hand and every field reaches the code as a NUL-terminated text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline std::vector<std::string> split_fields(const uint8_t* data, size_t size, size_t count,
                                             char sep = '\x1e') {
  std::vector<std::string> out(count);
  size_t field = 0;
  for (size_t i = 0; i < size; i++) {
    char c = static_cast<char>(data[i]);
    if (c == sep && field + 1 < count) {
      field++;
    } else {
      out[field] += c;
    }
  }
  return out;
}

// The text up to its first NUL, as C functions will see it.
inline std::string c_text(const std::string& s) {
  return std::string(s.c_str());
}
