#include "platform/node_info.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <filesystem>
#include <string>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

// (The file and folder probes are tested through --check on whole nodes.)
TEST(NodeInfo, LocatesCommandsAsTheRunsDo) {
  test_folder folder;
  const std::string dir = folder.dir.string();
  folder.script("tool", "");
  folder.file("data", "x", 0644);
  folder.file("dir/x", "", 0644);
  folder.script("bin/x", "");
  using enum command_place;
  struct {
    std::string path_var;
    std::string command;
    command_place kind;
    std::string place;
  } cases[] = {
      {"/nonexistent:" + dir, "tool", found, dir + "/tool"},
      {dir, "data", not_executable, dir + "/data"},
      {dir + ":/nonexistent:" + dir + "/dir", "x", not_executable, dir + "/dir/x"},
      {dir + "/dir:" + dir + "/bin", "x", found, dir + "/bin/x"},  // past one it may not run
      {dir, "dir", not_found, ""},                                 // a folder
      {"/nonexistent", "tool", not_found, ""},
      {"/nonexistent:", "tool", found, "./tool"},  // an empty entry is the working folder
      {"", dir + "/tool", found, dir + "/tool"},   // a path is taken as it stands
      {dir, "./data", not_executable, "./data"},
      // Unset, PATH is the shell's default, as for the runs themselves.
      {"<unset>", "sh", found, fs::exists("/usr/bin/sh") ? "/usr/bin/sh" : "/bin/sh"},
  };
  std::string was = fs::current_path();
  const char* path_was = getenv("PATH");
  std::string saved = path_was != nullptr ? path_was : "";
  fs::current_path(dir);
  for (const auto& c : cases) {
    set_env("PATH", c.path_var == "<unset>" ? nullptr : c.path_var.c_str());
    char where[1024];
    EXPECT_EQ(locate_command(c.command.c_str(), where, sizeof where), c.kind)
        << c.path_var << " " << c.command;
    EXPECT_EQ(std::string(where), c.place) << c.path_var << " " << c.command;
  }
  fs::current_path(was);
  set_env("PATH", saved);
}

}  // namespace
#endif
