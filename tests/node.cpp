#include "node.h"

#include "test_support.h"

#include <cstdlib>

node::node() {
  env = {"QUORIN_CREDS_PATH=" + creds_path(), "PATH=/usr/bin:/bin"};
  dir_.mkdir(".quorin");
}

void node::credentials(const std::string& json) {
  dir_.write(".quorin/.credentials.json", json);
}

void node::account(const std::string& name, const std::string& json) {
  dir_.write(".quorin/accounts/" + name + ".json", json);
}

void node::profile(const std::string& text) {
  dir_.write(".quorin/tellumar-env/quorin_code.txt", text);
}

void node::pending(const std::string& name) {
  dir_.write(".quorin/.login-pending/quorincode-" + (name.empty() ? "default" : name) + ".json",
             "{}");
}

std::string node::file(const std::string& rel, const std::string& content) {
  return dir_.write(rel, content);
}

void node::set(const std::string& assignment) {
  std::string name = assignment.substr(0, assignment.find('=') + 1);
  for (std::string& e : env) {
    if (e.compare(0, name.size(), name) == 0) {
      e = assignment;
      return;
    }
  }
  env.push_back(assignment);
}

void node::fake_login() {
  set("QUORIN_LOGIN_BIN=" + target_path(target().fake_tool));
  set("FAKE_LOG=" + path("calls.log"));
}

void node::fake_refresh() {
  set("QUORIN_REFRESH_BIN=" + target_path(target().fake_tool));
  set("FAKE_LOG=" + path("calls.log"));
}

std::vector<std::vector<std::string>> node::calls() const {
  return read_fake_log(dir_.at("calls.log"));
}

outcome node::get(const std::string& query, const std::string& body,
                  const std::function<void(int pid)>& started) const {
  std::vector<std::string> e = env;
  e.push_back("QUERY_STRING=" + query);
  if (!body.empty()) e.push_back("CONTENT_LENGTH=" + std::to_string(body.size()));
  return run_plugin({e, {}, body, home(), {}, started});
}

std::string member(const std::string& reply, const std::string& key) {
  std::string needle = "\"" + key + "\":";
  size_t at = reply.find(needle);
  if (at == std::string::npos) return "";
  size_t start = at + needle.size();
  size_t end = start;
  if (reply[start] == '"') {
    for (end = start + 1; end < reply.size() && reply[end] != '"'; end++)
      if (reply[end] == '\\') end++;
    return reply.substr(start, end + 1 - start);
  }
  int depth = 0;
  for (; end < reply.size(); end++) {
    char c = reply[end];
    if (c == '[' || c == '{') depth++;
    if ((c == ']' || c == '}') && depth-- == 0) break;
    if (c == ',' && depth == 0) break;
  }
  return reply.substr(start, end - start);
}

std::string empty_status(const std::string& creds_path) {
  return std::string(kJsonHeaders) +
         "{\"ok\":true,\"plugin\":\"plugin_quorincode_login\",\"version\":\"" + project_version() +
         "\","
         "\"logged_in\":false,\"expires_at\":0,\"expires_at_sec\":0,\"expires_in_sec\":0,"
         "\"expired\":false,\"has_refresh\":false,\"account\":\"\",\"pending\":false,"
         "\"cli_present\":false,\"credentials_path\":" +
         json_quoted(creds_path) +
         ",\"profile\":\"\",\"profile_exists\":false,\"named_accounts\":false,"
         "\"subscription\":\"\",\"scopes\":\"\",\"accounts\":[],"
         "\"flow\":\"paste_code\",\"protocol\":\"TLLOGIN-MACHINE-V1\"}\n";
}
