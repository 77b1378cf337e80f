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

// How a tool run went: one type from the process module up through the
// runner to each action and --check. The process module gives how the
// process ended; the runner adds whether a reply stands, and the runs it did
// not start.
enum class tool_outcome {
  replied,          // a reply line stands (runner)
  exited,           // it exited of itself; from the runner: no reply line stands
  killed,           // a signal the plugin did not send ended it (POSIX): no reply
  output_cut,       // the reader stopped before the output ended; everything it started was ended
  timed_out,        // the deadline passed first; everything it started was ended
  no_time,          // the request's time for its tools was spent before this run: not started
                    // (runner)
  not_found,        // no such program on this node, or it said so the command shell's way
                    // (exit status 127 on POSIX, 9009 from cmd.exe)
  not_executable,   // a file of that name is there, but this user may not run it (POSIX)
  could_not_start,  // the system lacked what a start needs (processes, memory, descriptors;
                    // on Windows also the job that holds the tree): nothing ran
  refused,          // a value the command shell would change (a " or %), or a name too
                    // long for its line: not started (runner, Windows)
};

// Whether the tool was started and ended (a reply aside).
inline bool tool_ran(tool_outcome o) {
  return o <= tool_outcome::timed_out;
}

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

// Ends the run: once its output has ended (proc_read gave 0), waits for the
// process until the deadline; before that, the reader has stopped and it is
// ended now (output_cut). Then ends every process it started that is still
// running, also those that left its group, reaps it and frees the handle.
tool_outcome proc_end(proc_run* run);

// Whether every process a tool starts can be found and ended, also one that
// leaves its process group: false on POSIX without a readable /proc or
// without a subreaper (systems other than Linux).
bool proc_finds_whole_tree();
