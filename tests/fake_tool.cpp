// A stand-in for the login and refresh CLIs in tests: records its arguments,
// prints a prepared reply and exits with a prepared status.
//
// For a run whose first argument is "--finish", the variables read are
// FAKE_REPLY_FINISH, FAKE_EXIT_FINISH and FAKE_WRITE_FINISH, falling back to
// FAKE_REPLY and FAKE_EXIT ("--credentials-file" gives CREDENTIALS_FILE).
//   FAKE_LOG    file that each run appends its arguments to, as
//               "<count>\n" then "<length>:<bytes>\n" per argument
//   FAKE_REPLY  bytes written to standard output as they stand
//   FAKE_EXIT   exit status
//   FAKE_WRITE  text written over the file named by the second argument
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

static const char* setting(const std::string& action, const char* base) {
  std::string specific = std::string(base) + "_" + action;
  if (const char* v = getenv(specific.c_str())) return v;
  return getenv(base);
}

int main(int argc, char** argv) {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);  // the reply goes out as it stands
#endif
  std::string action;
  if (argc > 1) {
    for (const char* p = argv[1]; *p; p++) {
      if (*p == '-' && action.empty()) continue;
      action += *p == '-' ? '_' : static_cast<char>(toupper(static_cast<unsigned char>(*p)));
    }
  }
  if (const char* log = getenv("FAKE_LOG")) {
    if (FILE* f = fopen(log, "ab")) {
      fprintf(f, "%d\n", argc - 1);
      for (int i = 1; i < argc; i++) fprintf(f, "%zu:%s\n", strlen(argv[i]), argv[i]);
      fclose(f);
    }
  }
  if (const char* text = setting(action, "FAKE_WRITE"); text != nullptr && argc > 2) {
    if (FILE* f = fopen(argv[2], "wb")) {
      fputs(text, f);
      fclose(f);
    }
  }
  if (const char* reply = setting(action, "FAKE_REPLY")) fputs(reply, stdout);
  fputs("noise on stderr\n", stderr);
  const char* code = setting(action, "FAKE_EXIT");
  return code ? atoi(code) : 0;
}
