// Reads what fake_tool recorded: "<count>\n" then "<length>:<bytes>\n" per
// argument, for each run in order.
#pragma once

#include <fstream>
#include <string>
#include <vector>

inline std::vector<std::vector<std::string>> read_fake_log(const std::string& path) {
  std::vector<std::vector<std::string>> runs;
  std::ifstream in(path, std::ios::binary);
  int count = 0;
  while (in >> count) {
    in.get();  // line feed
    std::vector<std::string> args;
    for (int i = 0; i < count; i++) {
      size_t len = 0;
      in >> len;
      in.get();  // colon
      std::string arg(len, '\0');
      in.read(arg.data(), static_cast<std::streamsize>(len));
      in.get();  // line feed
      args.push_back(arg);
    }
    runs.push_back(args);
  }
  return runs;
}
