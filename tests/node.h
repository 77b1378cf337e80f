// A throwaway node for process-level tests: a home folder with the Quorin
// files, fake tools that record their arguments, and requests run against it.
#pragma once

#include <string>
#include <vector>

#include "harness.h"

class node {
 public:
  node();

  // The node's folder on this machine (the plugin's working directory).
  std::string home() const { return dir_.path(); }
  // A path below the home folder as the plugin names it (target_path).
  std::string path(const std::string& rel) const { return target_path(dir_.at(rel)); }
  // The default credentials file, as the plugin names it.
  std::string creds_path() const { return path(".quorin/.credentials.json"); }

  // Writes the default credentials file, a named-account file, the profile
  // file, or a pending marker ("" for the default account).
  void credentials(const std::string& json);
  void account(const std::string& name, const std::string& json);
  void profile(const std::string& text);
  void pending(const std::string& name);
  // Any file below the home folder; returns its path on this machine.
  std::string file(const std::string& rel, const std::string& content);
  // A folder below the home folder (with its parents); returns its path on this machine.
  std::string folder(const std::string& rel) { return dir_.mkdir(rel); }
  std::string read(const std::string& rel) const { return dir_.read(rel); }

  // Points the login (or refresh) CLI at the recording fake tool.
  void fake_login();
  void fake_refresh();
  // Adds or replaces one environment variable ("NAME=value").
  void set(const std::string& assignment);

  // The arguments of every run of a fake tool, in order.
  std::vector<std::vector<std::string>> calls() const;

  // Runs one request with this query string (and body on standard input);
  // started, when given, is called with the plugin's process id.
  outcome get(const std::string& query, const std::string& body = "",
              const std::function<void(int pid)>& started = {}) const;

  std::vector<std::string> env;

 private:
  scratch dir_;
};

// The value text of a top-level member of a one-line JSON reply ("" if absent).
std::string member(const std::string& reply, const std::string& key);

// The whole status document for a node with nothing on it but this
// credentials path.
std::string empty_status(const std::string& creds_path);
