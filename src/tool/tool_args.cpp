#include "tool/tool_args.h"

namespace {

void add(tool_args* out, const char* word, bool quoted = false) {
  if (out->count >= tool_args::kMost) return;  // the builders below never reach it
  out->word[out->count] = word;
  out->quoted[out->count] = quoted;
  out->count++;
}

void force_option(tool_args* out, bool force) {
  if (force) add(out, "--force");
}

// "--name" and the name, quoted on the line or as it stands; nothing for the
// default account.
void name_option(tool_args* out, const char* name, bool quote) {
  if (name[0] == '\0') return;
  add(out, "--name");
  add(out, name, quote);
}

}  // namespace

void status_args(const char* name, tool_args* out) {
  *out = tool_args{};
  add(out, "--status");
  name_option(out, name, false);
}

void start_args(const char* name, bool force, tool_args* out) {
  *out = tool_args{};
  add(out, "--start");
  force_option(out, force);
  name_option(out, name, true);
}

void cancel_args(const char* name, tool_args* out) {
  *out = tool_args{};
  add(out, "--cancel");
  name_option(out, name, true);
}

void finish_args(const char* code, const char* name, bool force, tool_args* out) {
  *out = tool_args{};
  add(out, "--finish");
  add(out, code, true);
  name_option(out, name, true);
  force_option(out, force);
}

void refresh_args(const char* creds_path, tool_args* out) {
  *out = tool_args{};
  add(out, "--credentials-file");
  add(out, creds_path, true);
  add(out, "--force");
}
