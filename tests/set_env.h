// Sets an environment variable for unit tests on either platform; an empty
// value counts as unset for every setting the plugin reads.
#pragma once

#include <cstdlib>
#include <string>

inline void set_env(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}
