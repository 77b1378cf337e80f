// The finish action's reading of a pasted text: whatever is pasted, a code
// that passes the check holds nothing a shell reads specially and quotes into
// one word, and an error's name is a short word.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fake_platform.h"
#include "login/code.h"
#include "platform/platform.h"
#include "tool/command_line.h"
#include "tool/tool_args.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char text[kCodeCap];
  size_t n = size < kCodeCap - 1 ? size : kCodeCap - 1;
  memcpy(text, data, n);
  text[n] = '\0';
  pasted kind = read_pasted(text);
  if (strlen(text) >= kCodeCap) abort();
  // An error's name goes into the answer: only a short word of safe bytes.
  const char* word = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._";
  if (kind == pasted::sign_in_error && (strlen(text) > 64 || text[strspn(text, word)] != '\0'))
    abort();
  if (kind != pasted::code || !code_valid(text)) return 0;
  for (const char* p = text; *p; p++) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x20 || c == 0x7f || strchr("\"$&';<>\\`|%", c)) abort();
    if (c == '#') abort();  // the fragment is always cut
  }
  tool_args args;
  finish_args(text, "", false, &args);
  char line[kLineCap];
  if (!command_line("tool", args, line)) abort();
  // Nothing escaped or cut.
  if (strlen(line) != strlen("\"tool\" --finish ") + strlen(text) + 2 + strlen(" 2>NUL")) abort();
  check_command_line(line);
  return 0;
}
