#include "tool/command_line.h"

#include <cstring>

#include "platform/platform.h"
#include "support/cut.h"

namespace {

// Appends text to line at *at, cutting what does not fit.
void append(char* line, size_t* at, const char* text) {
  copy_cut(line + *at, kLineCap - *at, text);
  *at += strlen(line + *at);
}

}  // namespace

void shell_quote_into(const char* value, char* dst, size_t cap) {
  size_t i = 0;
  dst[i++] = '"';
  for (const char* p = value ? value : ""; *p != '\0'; p++) {
    if (shell_escapes(static_cast<unsigned char>(*p))) {
      if (i + 3 >= cap) break;
      dst[i++] = '\\';
    } else if (i + 2 >= cap) {
      break;
    }
    dst[i++] = *p;
  }
  dst[i++] = '"';
  dst[i] = '\0';
}

bool tool_fits(const char* tool) {
  size_t quoted = 2;
  for (const char* p = tool; *p != '\0'; p++)
    quoted += shell_escapes(static_cast<unsigned char>(*p)) ? 2 : 1;
  return quoted < kQuotedToolCap;
}

bool command_line(const char* tool, const tool_args& args, char line[kLineCap]) {
  if (!tool_fits(tool)) return false;
  if (!kShellQuotesQuote) {
    if (strchr(tool, '"') != nullptr) return false;
    for (int i = 0; i < args.count; i++)
      if (args.quoted[i] && strchr(args.word[i], '"') != nullptr) return false;
  }
  shell_quote_into(tool, line, kQuotedToolCap);
  size_t at = strlen(line);
  for (int i = 0; i < args.count; i++) {
    append(line, &at, " ");
    if (args.quoted[i] && at + 3 <= kLineCap) {
      shell_quote_into(args.word[i], line + at, kLineCap - at);
      at += strlen(line + at);
    } else {
      append(line, &at, args.word[i]);
    }
  }
  append(line, &at, kNullStderr);
  return true;
}
