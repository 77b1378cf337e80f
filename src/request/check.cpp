#include "request/check.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "actions/cli_answers.h"
#include "cgi/respond.h"
#include "platform/node_info.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "request/usage.h"
#include "status/collect.h"
#include "status/locations.h"
#include "support/buf.h"
#include "support/cut.h"
#include "support/decimal.h"
#include "tool/runner.h"

namespace {

constexpr int kMaxFindings = 16;

struct finding {
  bool problem;  // a sign-in cannot work until it is fixed; else a warning
  char text[512];
};

// The report under way: lines for a person, or the members of one JSON object.
struct report {
  bool json;
  buf facts;
  finding findings[kMaxFindings];
  int count;
};

// Bytes a terminal would act on are shown as "?".
void add_plain(buf* b, const char* s) {
  for (const char* p = s; *p != '\0'; p++) {
    unsigned char c = static_cast<unsigned char>(*p);
    char shown = c < 0x20 || c == 0x7f ? '?' : *p;
    buf_add(b, &shown, 1);
  }
}

void line(report* r, const char* label, const char* text) {
  buf_addf(&r->facts, "%-20s ", label);
  add_plain(&r->facts, text[0] != '\0' ? text : "-");
  buf_adds(&r->facts, "\n");
}

void fact(report* r, const char* key, const char* label, const char* text) {
  if (!r->json) return line(r, label, text);
  buf_addf(&r->facts, ",\"%s\":", key);
  buf_json(&r->facts, text);
}

void fact_flag(report* r, const char* key, const char* label, bool on) {
  if (!r->json) return line(r, label, on ? "yes" : "no");
  buf_addf(&r->facts, ",\"%s\":%s", key, on ? "true" : "false");
}

// Whether something is there, when a folder on its way may be shut to us.
enum class presence { no, yes, cannot_tell };

// yes, no or cannot tell; true, false or null in JSON.
void fact_presence(report* r, const char* key, const char* label, presence p) {
  static const char* const kText[] = {"no", "yes", "cannot tell"};
  static const char* const kJson[] = {"false", "true", "null"};
  int i = static_cast<int>(p);
  if (!r->json) return line(r, label, kText[i]);
  buf_addf(&r->facts, ",\"%s\":%s", key, kJson[i]);
}

// A number: as it is in JSON, as text for a person.
void fact_num(report* r, const char* key, const char* label, int64_t n, const char* text) {
  if (!r->json) return line(r, label, text);
  buf_addf(&r->facts, ",\"%s\":%lld", key, static_cast<long long>(n));
}

void note(report* r, bool problem, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
void note(report* r, bool problem, const char* fmt, ...) {
  if (r->count >= kMaxFindings) return;
  finding* f = &r->findings[r->count++];
  f->problem = problem;
  va_list ap;
  va_start(ap, fmt);
  vformat_cut(f->text, sizeof f->text, fmt, ap);
  va_end(ap);
}

// Seconds since the Unix epoch as "YYYY-MM-DD HH:MM UTC" (proleptic Gregorian).
void utc_text(int64_t t, char* dst, size_t cap) {
  int64_t days = t / 86400, secs = t % 86400;
  if (secs < 0) {
    secs += 86400;
    days--;
  }
  int64_t z = days + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t day = doy - (153 * mp + 2) / 5 + 1;
  int64_t month = mp < 10 ? mp + 3 : mp - 9;
  int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  format_cut(dst, cap, "%04lld-%02lld-%02lld %02lld:%02lld UTC", static_cast<long long>(year),
             static_cast<long long>(month), static_cast<long long>(day),
             static_cast<long long>(secs / 3600), static_cast<long long>(secs / 60 % 60));
}

void check_home(report* r, const char* user) {
  const char* from = nullptr;
  const char* home = home_dir_from(&from);
  fact(r, "home", "home folder", home != nullptr ? home : "");
  fact(r, "home_from", "  from", from != nullptr ? from : "");
  if (home == nullptr && env_setting("QUORIN_CREDS_PATH") == nullptr) {
    note(r, true,
         "%s has no home folder and QUORIN_CREDS_PATH is not set, so the credentials would be "
         "looked for below whatever folder the web server starts the plugin in: set "
         "QUORIN_CREDS_PATH to the credentials file the CLIs keep",
         user);
  }
}

// Present and readable, and what the status read made of the file: the same
// read, so the check and a status request never disagree about it.
void check_credentials_file(report* r, const status_rec& rec, const char* user) {
  const char* path = rec.credentials_path;
  file_access access = probe_file(path);
  switch (access) {
    case file_access::missing:
      break;  // nobody has signed in yet; the login CLI writes it
    case file_access::no_access:
      note(r, true, "%s cannot enter a folder on the way to %s: let %s enter (x) each folder on it",
           user, path, user);
      break;
    case file_access::folder:
      note(r, true, "%s is a folder: set QUORIN_CREDS_PATH to the credentials file itself", path);
      break;
    case file_access::unreadable:
      note(r, true, "%s may not read %s: make %s its owner, or let it read the file", user, path,
           user);
      break;
    case file_access::readable:
      if (!rec.credentials_read) {
        note(r, true,
             "%s could not be read whole (it is not a plain file, or larger than 8 MiB): move it "
             "away and sign in again",
             path);
      } else if (!rec.logged_in) {
        note(r, false,
             "%s holds no sign-in (no \"quorinAiOauth\" object with a token or an expiry): sign "
             "in, and the login CLI writes it anew",
             path);
      }
      break;
  }
  presence present = access == file_access::missing     ? presence::no
                     : access == file_access::no_access ? presence::cannot_tell
                                                        : presence::yes;
  fact_presence(r, "credentials_present", "  present", present);
  fact_flag(r, "credentials_readable", "  readable", rec.credentials_read != 0);
}

// The login CLI writes the credentials next to where the plugin reads them.
void check_credentials_folder(report* r, const char* path, const char* user) {
  char dir[kPathCap];
  dir_of(path, dir);
  if (dir[0] == '\0') copy_cut(dir, sizeof dir, ".");
  switch (probe_folder(dir)) {
    case folder_access::missing:
      note(r, false,
           "the folder %s does not exist yet: make it, owned by %s, unless the login CLI makes it",
           dir, user);
      break;
    case folder_access::not_writable:
      note(r, true,
           "%s may not write in %s, where the login CLI keeps the credentials: make %s its "
           "owner",
           user, dir, user);
      break;
    case folder_access::no_access:  // the file's own check names the shut folder
    case folder_access::writable:
    case folder_access::unknown:
      break;
  }
}

void check_sign_in(report* r, const status_rec& rec) {
  fact_flag(r, "logged_in", "  signed in", rec.logged_in != 0);
  char when[64] = "";
  if (rec.logged_in && rec.expires_at > 0) {
    char date[40];
    utc_text(expiry_seconds(rec.expires_at), date, sizeof date);
    int64_t left = rec.expires_in_sec;
    if (left > 0) {
      format_cut(when, sizeof when, "%s (in %lld h %02lld min)", date,
                 static_cast<long long>(left / 3600), static_cast<long long>(left / 60 % 60));
    } else {
      format_cut(when, sizeof when, "%s (expired)", date);
      note(r, false,
           "the access token expired at %s: refresh it (Refresh Token Now on the console) or "
           "sign in again",
           date);
    }
  }
  fact_num(r, "expires_at", "  expires", rec.logged_in ? rec.expires_at : 0, when);
  fact_flag(r, "expired", "  expired", rec.expired != 0);
}

// A CLI's name, where it comes from, and where the runs would find it.
command_place check_cli_place(report* r, const char* key, const char* label, const char* name,
                              const char* variable) {
  char where[kPathCap], key_from[32], key_at[32];
  command_place place = locate_command(name, where, sizeof where);
  if (place == command_place::cannot_tell) copy_cut(where, sizeof where, "cannot tell");
  format_cut(key_from, sizeof key_from, "%s_from", key);
  format_cut(key_at, sizeof key_at, "%s_found_at", key);
  fact(r, key, label, name);
  fact(r, key_from, "  from", env_setting(variable) != nullptr ? variable : "default name");
  fact(r, key_at, "  found at", where);
  return place;
}

// The outcome of the login CLI's --status run, as a status request has it.
void check_login_cli(report* r, const status_rec& rec, const char* user) {
  static const char* const kOutcome[] = {
      "answered", "no JSON line", "ended by a signal", "output cut",      "timed out",
      "not run",  "not found",    "not executable",    "could not start", "not run"};
  const char* name = login_bin();
  check_cli_place(r, "login_cli", "login CLI", name, "QUORIN_LOGIN_BIN");
  fact_flag(r, "cli_present", "  present", rec.cli_present != 0);
  fact(r, "login_cli_outcome", "  --status run", kOutcome[static_cast<int>(rec.cli_outcome)]);
  fact(r, "login_cli_answer", "  --status answer", rec.cli_reply);
  fact_flag(r, "login_cli_timed_out", "  timed out", rec.cli_outcome == tool_outcome::timed_out);

  if (rec.cli_outcome == tool_outcome::replied) return;
  const char* path = env_get("PATH");
  char detail[2 * kPathCap + 128];
  if (rec.cli_outcome == tool_outcome::not_found) {
    note(r, true,
         "the login CLI is not on this node (%s): install TELLUMAR CODE, set QUORIN_LOGIN_BIN to "
         "its full path, or add its folder to PATH (now %s)",
         name, path != nullptr ? path : "not set");
  } else if (why_no_reply(cli::login, rec.cli_outcome, status_timeout(), detail, sizeof detail)) {
    note(r, true, "%s", detail);  // what a sign-in would answer, in the same words
  } else {
    note(r, true,
         "%s when asked --status: run \"%s --status\" as %s to see why "
         "(docs/login-cli-protocol.md says what it must answer)",
         detail, name, user);
  }
}

void check_refresh_cli(report* r) {
  const char* name = refresh_bin();
  command_place place =
      check_cli_place(r, "refresh_cli", "refresh CLI", name, "QUORIN_REFRESH_BIN");
  if (place == command_place::not_executable) {
    char detail[2 * kPathCap + 128];
    why_no_reply(cli::refresh, tool_outcome::not_executable, 0, detail, sizeof detail);
    note(r, false, "%s; until then tokens cannot be renewed", detail);
  } else if (place != command_place::found) {
    note(r, false,
         "the refresh CLI %s is not found, so tokens cannot be renewed: install TELLUMAR CODE, "
         "set QUORIN_REFRESH_BIN to its full path, or add its folder to PATH",
         name);
  }
}

// A CLI's helper that leaves its process group is found through /proc alone.
void check_process_tree(report* r) {
  if (proc_finds_whole_tree()) return;
  note(r, false,
       "processes that a CLI starts and that leave its process group (setsid, a daemon) cannot "
       "be found here, so they may outlive their request: on Linux, mount /proc");
}

void check_settings(report* r) {
  bool password = env_setting("BOT_PASSWORD") != nullptr;
  if (r->json || password) {
    fact_flag(r, "node_password", "node password", password);
  } else {
    line(r, "node password", "not set here");
  }
  if (!password) {
    note(r, false,
         "BOT_PASSWORD is not set here, and this check cannot see the web server's "
         "configuration: make sure the route sets it (a request to the route without the "
         "password then answers 401), else every caller that reaches the web server is admitted");
  }

  int seconds = tool_timeout();
  const char* raw = env_setting("QUORIN_TOOL_TIMEOUT");
  int64_t asked = 0;
  bool whole = raw != nullptr && decimal_digits(raw, INT64_MAX, &asked);
  char text[64];
  if (seconds == 0) {
    copy_cut(text, sizeof text, "none");
    note(r, false,
         "QUORIN_TOOL_TIMEOUT is 0: a hung CLI holds its request until the web server gives "
         "up; leave it unset for %d s",
         kToolTimeoutDefault);
  } else {
    format_cut(text, sizeof text, "%d s", seconds);
  }
  if (raw != nullptr && !whole) {
    note(r, false,
         "QUORIN_TOOL_TIMEOUT \"%s\" is not a whole number of seconds, so the default %d s "
         "applies",
         raw, kToolTimeoutDefault);
  } else if (asked > kToolTimeoutMax) {
    note(r, false, "QUORIN_TOOL_TIMEOUT %s is more than the most, so it is cut to %d s", raw,
         kToolTimeoutMax);
  }
  fact_num(r, "tool_timeout", "tool deadline", seconds, text);
  fact(r, "tool_timeout_from", "  from", whole ? "QUORIN_TOOL_TIMEOUT" : "default");
}

// A location longer than its fixed area is cut.
void check_long_locations(report* r) {
  for (const char* var :
       {"QUORIN_CREDS_PATH", "QUORIN_ACCOUNTS_DIR", "QUORIN_ENV_DIR", "QUORIN_PENDING_DIR"}) {
    const char* v = env_setting(var);
    if (v != nullptr && strlen(v) >= kPathCap) {
      note(r, false, "%s is %d characters long: only its first %d are used", var,
           static_cast<int>(strlen(v)), static_cast<int>(kPathCap - 1));
    }
  }
}

// Run from a shell, the check has only its own environment; the web server
// gives the plugin its settings from its configuration, which the check
// cannot read. It names the settings it did not get.
void check_unseen(report* r) {
  static const char* const settings[] = {
      "BOT_PASSWORD",        "QUORIN_LOGIN_BIN", "QUORIN_REFRESH_BIN", "QUORIN_CREDS_PATH",
      "QUORIN_ACCOUNTS_DIR", "QUORIN_ENV_DIR",   "QUORIN_PENDING_DIR", "QUORIN_TOOL_TIMEOUT"};
  buf names{};
  for (const char* name : settings) {
    if (env_setting(name) != nullptr) continue;
    if (r->json) {
      buf_adds(&names, names.len == 0 ? "" : ",");
      buf_json(&names, name);
    } else {
      buf_addf(&names, "%s%s", names.len == 0 ? "" : ", ", name);
    }
  }
  if (r->json) {
    buf_adds(&r->facts, ",\"not_seen\":[");
    if (names.data != nullptr) buf_add(&r->facts, names.data, names.len);
    buf_adds(&r->facts, "]");
  } else if (names.len > 0) {
    buf_adds(&names, " (the web server's configuration may set them; this check cannot see it)");
    line(r, "not set here", names.data);
  }
  buf_free(&names);
}

void write_report(report* r, int problems) {
  buf out{};
  if (r->json) {
    buf_addf(&out, "{\"ok\":%s,\"version\":\"%s\"", problems == 0 ? "true" : "false",
             PLUGIN_VERSION);
    buf_add(&out, r->facts.data, r->facts.len);
    for (bool problem : {true, false}) {
      buf_adds(&out, problem ? ",\"problems\":[" : "],\"warnings\":[");
      bool first = true;
      for (int i = 0; i < r->count; i++) {
        if (r->findings[i].problem != problem) continue;
        if (!first) buf_adds(&out, ",");
        buf_json(&out, r->findings[i].text);
        first = false;
      }
    }
    buf_adds(&out, "]}\n");
  } else {
    buf_adds(&out, "plugin_quorincode_login " PLUGIN_VERSION " self-check\n");
    buf_add(&out, r->facts.data, r->facts.len);
    if (r->count > 0) buf_adds(&out, "\n");
    for (int i = 0; i < r->count; i++) {
      buf_adds(&out, r->findings[i].problem ? "problem: " : "warning: ");
      add_plain(&out, r->findings[i].text);
      buf_adds(&out, "\n");
    }
    if (problems == 0) {
      buf_adds(&out, "\nA sign-in can work on this node.\n");
    } else {
      buf_addf(&out, "\nA sign-in cannot work on this node: %d problem%s.\n", problems,
               problems == 1 ? "" : "s");
    }
  }
  if (out.data != nullptr) write_out(out.data, out.len);
  buf_free(&out);
}

int run_check(bool json) {
  report r{};
  r.json = json;
  char user[128];
  user_name(user, sizeof user);

  // One collection, as a status request makes it: the file, the login CLI's
  // answer within the deadline, the named accounts.
  status_rec rec;
  collect_status(&rec, "");

  check_home(&r, user);
  fact(&r, "credentials_path", "credentials file", rec.credentials_path);
  fact(&r, "credentials_from", "  from",
       env_setting("QUORIN_CREDS_PATH") != nullptr ? "QUORIN_CREDS_PATH"
       : home_dir() != nullptr                     ? "home folder"
                                                   : "working folder");
  check_credentials_file(&r, rec, user);
  check_credentials_folder(&r, rec.credentials_path, user);
  check_sign_in(&r, rec);

  char accounts[kPathCap];
  accounts_dir(accounts);
  char count[16];
  format_cut(count, sizeof count, "%d", rec.account_count);
  fact(&r, "accounts_dir", "accounts folder", accounts);
  fact_num(&r, "account_count", "  accounts", rec.account_count, count);

  check_login_cli(&r, rec, user);
  check_refresh_cli(&r);
  check_process_tree(&r);
  check_settings(&r);
  check_long_locations(&r);
  check_unseen(&r);

  fact(&r, "user", "user", user);
  if (user_is_superuser()) {
    note(&r, false,
         "running as root, while a web server runs the plugin as its own user: run the check as "
         "that user (Debian: runuser -u www-data -- plugin_quorincode_login --check)");
  }

  int problems = 0;
  for (int i = 0; i < r.count; i++) problems += r.findings[i].problem ? 1 : 0;
  write_report(&r, problems);
  buf_free(&r.facts);
  return problems == 0 ? 0 : 1;
}

}  // namespace

int check_main(int argc, char** argv) {
  bool json = false;
  for (int i = 2; i < argc; i++) {
    if (strcmp(argv[i], "--json") == 0) {
      json = true;
      continue;
    }
    return usage_error("--check takes only --json, not", argv[i]);
  }
  return run_check(json);
}
