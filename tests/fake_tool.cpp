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
//   FAKE_PID    file that each run appends its process id to, one per line
//   FAKE_STDIN  file that each run appends the byte count of its standard
//               input to, read to the end first, one per line
//   FAKE_SLEEP  milliseconds to run on after the reply, appending a byte to
//               the file FAKE_BEAT (when set) every 50 ms
//   FAKE_FLOOD  when set, writes lines of "x" for ever, ignoring SIGPIPE
//   FAKE_IGNORE_TERM  when set (POSIX), SIGTERM is ignored
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

static long own_pid() {
#ifdef _WIN32
  return static_cast<long>(GetCurrentProcessId());
#else
  return static_cast<long>(getpid());
#endif
}

static void nap_ms(int ms) {
#ifdef _WIN32
  Sleep(static_cast<DWORD>(ms));
#else
  usleep(static_cast<useconds_t>(ms) * 1000);
#endif
}

static void append_line(const char* path, const std::string& line) {
  if (FILE* f = fopen(path, "ab")) {
    fprintf(f, "%s\n", line.c_str());
    fclose(f);
  }
}

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
  if (const char* pid_file = setting(action, "FAKE_PID"))
    append_line(pid_file, std::to_string(own_pid()));
#ifndef _WIN32
  if (setting(action, "FAKE_IGNORE_TERM") != nullptr) signal(SIGTERM, SIG_IGN);
#endif
  if (const char* stdin_file = setting(action, "FAKE_STDIN")) {
    size_t n = 0;
    char chunk[4096];
    for (size_t got; (got = fread(chunk, 1, sizeof chunk, stdin)) > 0;) n += got;
    append_line(stdin_file, std::to_string(n));
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
  fflush(stdout);
  if (setting(action, "FAKE_FLOOD") != nullptr) {
#ifndef _WIN32
    signal(SIGPIPE, SIG_IGN);
#endif
    static const std::string kLine(1023, 'x');
    for (;;) fprintf(stdout, "%s\n", kLine.c_str());
  }
  if (const char* ms = setting(action, "FAKE_SLEEP")) {
    const char* beat = getenv("FAKE_BEAT");
    for (int left = atoi(ms); left > 0; left -= 50) {
      nap_ms(50);
      if (beat != nullptr) append_line(beat, "");
    }
  }
  const char* code = setting(action, "FAKE_EXIT");
  return code ? atoi(code) : 0;
}
