// A tool run as a process of its own: its standard output read on a pipe, a
// deadline, and everything it started ended with it. One implementation per
// system (process-posix.cpp, process-win32.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

// What to start. Each system reads its own field: POSIX starts argv[0] with
// argv, no shell between (PATH searched when the name has no "/"); Windows
// hands line to the command shell.
struct proc_command {
  const char* const* argv;  // POSIX: the program and its arguments, null-terminated
  const char* line;         // Windows: the command shell's line
  // Whether a variable of this environment ("NAME=value") reaches the tool;
  // null: every one does.
  bool (*passes)(const char* entry);
};

// How a run ended.
enum class proc_result {
  finished,         // the process exited of itself; the status is its exit status
  killed,           // a signal the plugin did not send ended it (POSIX); the status is the signal
  not_found,        // no such program on this node, or it said so the command shell's way
                    // (exit status 127 on POSIX, 9009 from cmd.exe)
  not_executable,   // found, but this user may not run it (POSIX)
  could_not_start,  // the system lacked what a start needs (processes, memory, descriptors;
                    // on Windows also the job that holds the tree): nothing ran
  timed_out,        // the deadline passed first; everything it started was ended
  output_cut,       // the reader stopped early; everything it started was ended
};

// One run, owned by the process module; callers hold only the pointer.
//   started  proc_start gave it. The process runs with standard input and
//            error on the null device, standard output on the pipe, only those
//            three descriptors (handles), in a tree of its own. POSIX: a small
//            supervisor, a forked copy of the plugin, starts it in a process
//            group of its own; on Linux the supervisor is the subreaper of
//            everything the tool starts, and it ends the tree when the plugin
//            asks, when the tool exits leaving processes, and when the plugin
//            itself ends, however it ends. Windows: a job the tree cannot leave.
//   output ended  proc_read gave 0: end of file, or the process has ended
//            and what was waiting has been read (a helper that escaped the
//            end may hold the pipe)
//   reaped   proc_end ended what was left of the tree and collected it; the
//            handle is free for the next run
// One run at a time.
struct proc_run;

// Starts cmd; timeout_ms from now is its deadline (0: none), grace_ms the
// time its tree gets between the polite end (SIGTERM) and the forced one
// (on Windows, where the end is at once: the most it waits for it). A start
// that fails shows in proc_end's result; null only while a run is going.
proc_run* proc_start(const proc_command& cmd, int64_t timeout_ms, int64_t grace_ms);

// The next bytes of output into dst: their count, 0 once the output has
// ended, -1 when the deadline passed first.
int64_t proc_read(proc_run* run, char* dst, size_t cap);

// Ends the run: unless stop, waits for the process until the deadline. Then
// ends every process it started that is still running, also those that left
// its group, reaps it and frees the handle. *status is the exit status (or
// the command shell's on Windows) when finished, the signal when killed.
proc_result proc_end(proc_run* run, bool stop, int* status);

// Whether every process a tool starts can be found and ended, also one that
// leaves its process group: false on POSIX without a readable /proc or
// without a subreaper (systems other than Linux).
bool proc_finds_whole_tree();
