// quorin-login-standin: a local stand-in for the login CLI, for the demo and
// the tests. It never touches the network. It keeps a pending sign-in in the
// pending marker, signs in when handed the code that the demo sign-in page
// shows for that sign-in, and writes the credentials file the plugin reads.
//
//   --status [--name N]            the account's state; drops an expired sign-in
//   --start [--force] [--name N]   a sign-in link; a pending sign-in is resumed,
//                                  --force discards it and starts afresh
//   --finish CODE [--name N] [--force]   completes the pending sign-in
//   --cancel [--name N]            drops the pending sign-in
//
// STANDIN_SIGNIN_URL is the address of the demo sign-in page; unset, that of
// a node set up as docs/deploy.md says. The tools see nothing of the request,
// its Host header included.
#include <cstdlib>
#include <cstring>
#include <string>

#include "cgi/query.h"
#include "standin.h"
#include "status/locations.h"
#include "status/scan_creds.h"
#include "support/json_read.h"

namespace {

constexpr int64_t kSignInLifetime = 600;

struct command {
  std::string action;
  std::string code;
  std::string name;
  bool force = false;
};

bool parse(int argc, char** argv, command* cmd) {
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--force") {
      cmd->force = true;
    } else if (a == "--name" && i + 1 < argc) {
      cmd->name = argv[++i];
    } else if (a == "--finish" && i + 1 < argc) {
      cmd->action = a;
      cmd->code = argv[++i];
    } else if (a == "--status" || a == "--start" || a == "--cancel") {
      cmd->action = a;
    } else {
      return false;
    }
  }
  return !cmd->action.empty() && name_valid(cmd->name.c_str());
}

std::string credentials_file(const std::string& name) {
  char path[kPathCap];
  if (name.empty()) {
    creds_path(path);
  } else {
    account_file(name.c_str(), path);
  }
  return path;
}

std::string marker_file(const std::string& name) {
  char path[kPathCap];
  pending_marker(name.c_str(), path);
  return path;
}

// The pending sign-in kept in the marker, if one is there and still valid.
struct pending_signin {
  std::string state;
  int64_t expires_at = 0;
};

bool read_pending(const std::string& name, pending_signin* p) {
  char* text = read_file(marker_file(name).c_str());
  if (text == nullptr) return false;
  const char* end = text + strlen(text);
  char state[64] = "";
  json_str_field(text, end, "state", state, sizeof state);
  p->state = state;
  p->expires_at = json_num_field(text, end, "expires_at");
  free(text);
  return !p->state.empty();
}

std::string signin_link(const std::string& state) {
  const char* base = getenv("STANDIN_SIGNIN_URL");
  std::string url = base && *base ? base : "http://127.0.0.1/signin.html";
  return url + (url.find('?') == std::string::npos ? "?" : "&") + "state=" + state;
}

std::string account_label(const std::string& name) {
  return name.empty() ? "stand-in user" : name;
}

int status(const command& cmd) {
  status_rec rec;
  memset(&rec, 0, sizeof rec);
  char* text = read_file(credentials_file(cmd.name).c_str());
  scan_creds(text, &rec, nullptr);
  free(text);
  // A sign-in past its lifetime is over: it is dropped, so it no longer shows as pending.
  pending_signin p;
  if (read_pending(cmd.name, &p) && p.expires_at <= unix_now()) remove_file(marker_file(cmd.name));
  bool pending = file_exists(marker_file(cmd.name).c_str());
  std::string account = rec.logged_in ? account_label(cmd.name) : "";
  auto flag = [](bool b) { return b ? "true" : "false"; };
  return reply(std::string("{\"ok\":true,\"logged_in\":") + flag(rec.logged_in) +
               ",\"has_refresh\":" + flag(rec.has_refresh) + ",\"pending\":" + flag(pending) +
               ",\"expires_at\":" + std::to_string(rec.expires_at) +
               ",\"account\":" + json_string(account) + "}");
}

int start(const command& cmd) {
  pending_signin p;
  int64_t now = unix_now();
  if (cmd.force || !read_pending(cmd.name, &p) || p.expires_at <= now) {
    p.state = random_hex(16);
    p.expires_at = now + kSignInLifetime;
    std::string marker = "{\"state\":\"" + p.state +
                         "\",\"expires_at\":" + std::to_string(p.expires_at) +
                         ",\"account\":" + json_string(cmd.name) + "}\n";
    if (!write_whole(marker_file(cmd.name), marker)) {
      return reply("{\"ok\":false,\"error\":\"cannot_write_pending_login\"}", 1);
    }
  }
  return reply("{\"ok\":true,\"auth_url\":" + json_string(signin_link(p.state)) +
               ",\"flow\":\"paste_code\",\"expires_in\":" + std::to_string(p.expires_at - now) +
               ",\"hint\":\"Approve on the local stand-in sign-in page, then paste the code or "
               "the whole redirect address it shows.\"}");
}

int finish(const command& cmd) {
  pending_signin p;
  if (!read_pending(cmd.name, &p)) return reply("{\"ok\":false,\"error\":\"no_pending_login\"}", 1);
  int64_t now = unix_now();
  if (p.expires_at <= now) {
    remove_file(marker_file(cmd.name));
    return reply("{\"ok\":false,\"error\":\"login_expired\"}", 1);
  }
  if (cmd.code != code_for_state(p.state)) {
    return reply("{\"ok\":false,\"error\":\"invalid_grant\"}", 1);
  }
  int64_t expires_ms = unix_now_ms() + kTokenLifetime * 1000;
  std::string creds = "{\"quorinAiOauth\":{\"accessToken\":\"standin-at-" + random_hex(16) +
                      "\",\"refreshToken\":\"standin-rt-" + random_hex(16) +
                      "\",\"expiresAt\":" + std::to_string(expires_ms) +
                      ",\"subscriptionType\":\"pro\","
                      "\"scopes\":[\"user:inference\",\"user:profile\"]}}\n";
  if (!write_whole(credentials_file(cmd.name), creds)) {
    return reply("{\"ok\":false,\"error\":\"cannot_write_credentials\"}", 1);
  }
  remove_file(marker_file(cmd.name));
  return reply("{\"ok\":true,\"account\":" + json_string(account_label(cmd.name)) + "}");
}

int cancel(const command& cmd) {
  bool gone = remove_file(marker_file(cmd.name));
  return reply(gone ? "{\"ok\":true}" : "{\"ok\":false,\"error\":\"cannot_remove_pending_login\"}",
               gone ? 0 : 1);
}

}  // namespace

int main(int argc, char** argv) {
  command cmd;
  if (!parse(argc, argv, &cmd)) return reply("{\"ok\":false,\"error\":\"usage\"}", 2);
  if (cmd.action == "--status") return status(cmd);
  if (cmd.action == "--start") return start(cmd);
  if (cmd.action == "--finish") return finish(cmd);
  return cancel(cmd);
}
