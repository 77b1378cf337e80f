#include "login/tool_args.h"

#include <cstdio>

#include "login/runner.h"

namespace {

const char* force_option(bool force) {
  return force ? " --force" : "";
}

// " --name " and the name, quoted or as it stands; empty for the default account.
void name_option(const char* name, bool quote, char out[kNameOptionCap]) {
  out[0] = '\0';
  if (name[0] == '\0') return;
  char quoted[kQuotedNameCap];
  if (quote) shell_quote_into(name, quoted, sizeof quoted);
  snprintf(out, kNameOptionCap, " --name %s", quote ? quoted : name);
}

}  // namespace

void status_args(const char* name, char out[kStatusArgsCap]) {
  char opt[kNameOptionCap];
  name_option(name, false, opt);
  snprintf(out, kStatusArgsCap, "--status%s", opt);
}

void start_args(const char* name, bool force, char out[kStartArgsCap]) {
  char opt[kNameOptionCap];
  name_option(name, true, opt);
  snprintf(out, kStartArgsCap, "--start%s%s", force_option(force), opt);
}

void cancel_args(const char* name, char out[kCancelArgsCap]) {
  char opt[kNameOptionCap];
  name_option(name, true, opt);
  snprintf(out, kCancelArgsCap, "--cancel%s", opt);
}

void finish_args(const char* code, const char* name, bool force, char out[kFinishArgsCap]) {
  char quoted[kQuotedCodeCap];
  shell_quote_into(code, quoted, sizeof quoted);
  char opt[kNameOptionCap];
  name_option(name, true, opt);
  snprintf(out, kFinishArgsCap, "--finish %s%s%s", quoted, opt, force_option(force));
}

void refresh_args(const char* creds_path, char out[kRefreshArgsCap]) {
  char quoted[kQuotedPathCap];
  shell_quote_into(creds_path, quoted, sizeof quoted);
  snprintf(out, kRefreshArgsCap, "--credentials-file %s --force", quoted);
}
