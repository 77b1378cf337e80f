#include "status/collect.h"

#include <cstdlib>
#include <cstring>

#include "platform/node_info.h"
#include "platform/platform.h"
#include "status/locations.h"
#include "status/scan_creds.h"
#include "support/cut.h"
#include "support/json_read.h"
#include "tool/runner.h"
#include "tool/tool_args.h"

bool expiry_in_ms(int64_t expires_at) {
  return expires_at > 100000000000;
}

int64_t expiry_seconds(int64_t expires_at) {
  return expiry_in_ms(expires_at) ? expires_at / 1000 : expires_at;
}

int64_t seconds_left(int64_t expires_at, int64_t now) {
  return expiry_seconds(expires_at) - now;
}

namespace {

// The remaining lifetime of a stored expiry, and whether it is over.
template <typename R>
void measure_expiry(R* r, int64_t now) {
  r->expires_in_sec = seconds_left(r->expires_at, now);
  r->expired = r->expires_in_sec <= 0;
}

void read_credentials(status_rec* rec, const char* name) {
  if (name[0] != '\0') {
    account_file(name, rec->credentials_path);
    copy_cut(rec->account, sizeof rec->account, name);
  } else {
    creds_path(rec->credentials_path);
  }
  char* text = read_file(rec->credentials_path);
  rec->credentials_read = text != nullptr;
  scan_creds(text, rec, nullptr);
  free(text);
}

// Bounded on its own: a hung login CLI holds a status read (and the hub's
// polls) for status_timeout() seconds at most.
tool_run start_login_status(const char* name) {
  tool_args args;
  status_args(name, &args);
  return start_capture(login_bin(), args, status_timeout());
}

// Whether the login CLI is on this node: a run that started it says so; one
// that never started anything says nothing, and the runs' search tells.
bool cli_on_node(tool_outcome how) {
  char place[kPathCap];
  return tool_ran(how) || how == tool_outcome::not_executable ||
         (how != tool_outcome::not_found &&
          locate_command(login_bin(), place, sizeof place) != command_place::not_found);
}

// The login CLI's own view: it may raise the flags, never lower them.
void merge_login_status(status_rec* rec, tool_run* run) {
  buf capture{};
  rec->cli_outcome = finish_capture(run, &capture);
  rec->cli_present = cli_on_node(rec->cli_outcome);
  if (rec->cli_outcome == tool_outcome::replied) {
    const char* line = last_json_line(&capture);
    const char* end = capture.data + capture.len;
    copy_cut(rec->cli_reply, sizeof rec->cli_reply, line);
    rec->cli_reply[strcspn(rec->cli_reply, "\r\n")] = '\0';
    if (json_bool_field(line, end, "logged_in", 0)) rec->logged_in = 1;
    if (json_bool_field(line, end, "has_refresh", 0)) rec->has_refresh = 1;
    rec->pending = json_bool_field(line, end, "pending", 0);
    int64_t expires = json_num_field(line, end, "expires_at");
    if (expires > 0) rec->expires_at = expires;
    char account[96] = "";
    json_str_field(line, end, "account", account, sizeof account);
    if (account[0] != '\0') copy_cut(rec->account, sizeof rec->account, account);
  }
  buf_free(&capture);
}

// The first "PROVIDER=" line with a value names the profile.
void read_profile(status_rec* rec) {
  profile_path(rec->profile_file);
  rec->profile_exists = file_exists(rec->profile_file);
  if (!rec->profile_exists) return;
  char* text = read_file(rec->profile_file);
  if (text == nullptr) return;
  for (const char* p = text; *p != '\0';) {
    const char* nl = strchr(p, '\n');
    size_t len = nl != nullptr ? static_cast<size_t>(nl - p) : strlen(p);
    if (len >= 1 && len <= 511 && rec->profile[0] == '\0') {
      char line[kPathCap];
      memcpy(line, p, len);
      line[len] = '\0';
      trim_tail(line);
      if (strncmp(line, "PROVIDER=", 9) == 0) copy_cut(rec->profile, sizeof rec->profile, line + 9);
    }
    if (nl == nullptr) break;
    p = nl + 1;
  }
  free(text);
}

void list_accounts(status_rec* rec, int64_t now) {
  char dir[kPathCap];
  accounts_dir(dir);
  status_rec scratch;  // takes what an entry has no room for, then dropped
  list_json_files(dir, kMaxAccounts, [&](const char* file) {
    if (rec->account_count >= kMaxAccounts) return;
    account_rec* entry = &rec->accounts[rec->account_count++];
    memset(entry, 0, sizeof *entry);
    copy_cut(entry->name, sizeof entry->name, file);
    size_t len = strlen(file);
    if (len - 5 < sizeof entry->name) entry->name[len - 5] = '\0';  // without ".json"
    char path[kPathCap];
    format_cut(path, sizeof path, "%s%c%s", dir, kPathSep, file);
    if (char* text = read_file(path)) {
      memset(&scratch, 0, sizeof scratch);
      scan_creds(text, &scratch, entry);
      free(text);
    }
    if (entry->expires_at > 0 && entry->logged_in) measure_expiry(entry, now);
  });
}

}  // namespace

int collect_status(status_rec* rec, const char* name) {
  return collect_status_at(rec, name, now_seconds());
}

int collect_status_at(status_rec* rec, const char* name, int64_t now) {
  memset(rec, 0, sizeof *rec);
  read_credentials(rec, name);

  // The login CLI's status run takes most of a request; the profile and the
  // account files, which it has no reason to touch, are read while it runs.
  // Its reply is merged afterwards, so every field ends as if read in turn.
  tool_run cli = start_login_status(name);
  read_profile(rec);
  list_accounts(rec, now);
  merge_login_status(rec, &cli);

  char marker[kPathCap];
  pending_marker(name, marker);
  if (file_exists(marker)) rec->pending = 1;

  if (rec->expires_at > 0) measure_expiry(rec, now);
  if (!rec->logged_in) {
    rec->expired = 0;
    rec->expires_in_sec = 0;
  } else if (rec->account[0] == '\0') {
    copy_cut(rec->account, sizeof rec->account, "default");
  }
  if (rec->profile[0] == '\0' && rec->profile_exists) {
    copy_cut(rec->profile, sizeof rec->profile, "quorin_code");
  }
  return 1;
}
