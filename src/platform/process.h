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
  const char* const* argv;    // POSIX: the program and its arguments, null-terminated
  const char* line;           // Windows: the command shell's line
  const char* const* hidden;  // variables left out of its environment, null-terminated
};

// How a run ended.
enum class proc_result {
  finished,     // the process exited; the status says how (128 + a signal that ended it)
  not_found,    // no such program on this node, or it said so the command shell's way
                // (exit status 127 on POSIX, 9009 from cmd.exe)
  timed_out,    // the deadline passed first; everything it started was ended
  output_cut,   // the reader stopped early; everything it started was ended
  not_started,  // the system could not start it
};

// One run, owned by the process module; callers hold only the pointer.
//   started  proc_start gave it: the process runs with standard input and
//            error on the null device, standard output on the pipe, only
//            those three descriptors (handles), in a tree of its own (POSIX:
//            a process group, and on Linux the plugin is its subreaper;
//            Windows: a job it cannot leave)
//   output ended  proc_read gave 0: end of file, or the process exited and
//            what was waiting has been read (a helper may hold the pipe)
//   exited   the process has ended; POSIX keeps it unreaped, so its group
//            number cannot be reused while the tree is still signalled
//   reaped   proc_end ended what was left of the tree, then collected the
//            process; the handle is free for the next run
// One run at a time. When the plugin itself is ended, so is the run (POSIX:
// the ending signals; Linux: a parent-death signal; Windows: the job).
struct proc_run;

// Starts cmd; timeout_ms from now is its deadline (0: none), grace_ms the
// time its tree gets between the polite end (SIGTERM) and the forced one
// (on Windows, where the end is at once: the most it waits for it).
// Null when nothing was started: no resources, or a run is still going.
proc_run* proc_start(const proc_command& cmd, int64_t timeout_ms, int64_t grace_ms);

// The next bytes of output into dst: their count, 0 once the output has
// ended, -1 when the deadline passed first.
int64_t proc_read(proc_run* run, char* dst, size_t cap);

// Ends the run: unless stop, waits for the process until the deadline. Then
// ends every process it started that is still running, also those that left
// its group, reaps it and frees the handle. *status is its exit status (or
// the command shell's on Windows) when the result is finished.
proc_result proc_end(proc_run* run, bool stop, int* status);
