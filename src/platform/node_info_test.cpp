#include "platform/node_info.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

// A folder with an executable "tool", a plain file "data" and a folder "dir".
// (The file and folder probes are tested through --check on whole nodes.)
struct tool_folder {
  std::string path;
  tool_folder() {
    char tmpl[] = "/tmp/node-info-XXXXXX";
    path = mkdtemp(tmpl);
    std::ofstream(path + "/tool") << "#!/bin/sh\n";
    chmod((path + "/tool").c_str(), 0755);
    std::ofstream(path + "/data") << "x";
    fs::create_directory(path + "/dir");
  }
  ~tool_folder() { fs::remove_all(path); }
};

TEST(NodeInfo, FindsCommandsAsTheShellDoes) {
  tool_folder t;
  struct {
    std::string path_var;
    std::string command;
    std::string found;  // "" for not found
  } cases[] = {
      {"/nonexistent:" + t.path, "tool", t.path + "/tool"},
      {t.path + ":/nonexistent", "tool", t.path + "/tool"},
      {t.path, "data", ""},  // not executable
      {t.path, "dir", ""},   // a folder
      {"/nonexistent", "tool", ""},
      {"/nonexistent:", "tool", "./tool"},       // an empty entry is the working folder
      {"", t.path + "/tool", t.path + "/tool"},  // a path is taken as it stands
      {t.path, "./data", ""},
  };
  std::string was = fs::current_path();
  const char* path_was = getenv("PATH");
  std::string saved = path_was != nullptr ? path_was : "";
  fs::current_path(t.path);
  for (const auto& c : cases) {
    set_env("PATH", c.path_var);
    char where[1024];
    EXPECT_EQ(find_command(c.command.c_str(), where, sizeof where), !c.found.empty())
        << c.path_var << " " << c.command;
    EXPECT_EQ(std::string(where), c.found) << c.path_var << " " << c.command;
  }
  fs::current_path(was);
  set_env("PATH", saved);
}

}  // namespace
#endif
