#include "tool/command_line.h"

#include <cstring>

namespace {

bool shell_reads(const char* value) {
  return strpbrk(value, "\"%") != nullptr;
}

// Appends n bytes of text at *at when they fit with the NUL.
bool append(char* line, size_t* at, const char* text, size_t n) {
  if (n >= kLineCap - *at) return false;
  memcpy(line + *at, text, n);
  *at += n;
  line[*at] = '\0';
  return true;
}

// value in double quotes. The C runtime reads backslashes before a quote as
// escapes: those before the closing one are doubled, so they stand.
bool append_quoted(char* line, size_t* at, const char* value) {
  size_t n = strlen(value), backslashes = 0;
  while (backslashes < n && value[n - 1 - backslashes] == '\\') backslashes++;
  return !shell_reads(value) && append(line, at, "\"", 1) && append(line, at, value, n) &&
         append(line, at, value + n - backslashes, backslashes) && append(line, at, "\"", 1);
}

}  // namespace

bool command_line(const char* tool, const tool_args& args, char line[kLineCap]) {
  size_t at = 0;
  bool fits = append_quoted(line, &at, tool) && at < kQuotedToolCap;
  for (int i = 0; fits && i < args.count; i++) {
    const char* word = args.word[i];
    fits = append(line, &at, " ", 1) && (args.quoted[i] ? append_quoted(line, &at, word)
                                                        : append(line, &at, word, strlen(word)));
  }
  fits = fits && append(line, &at, " 2>NUL", 6);
  if (!fits) line[0] = '\0';
  return fits;
}
