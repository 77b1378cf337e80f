// What an action says when a CLI run gave it no reply: one text per way the
// run can have gone.
#pragma once

#include <cstddef>

#include "tool/runner.h"

enum class cli { login, refresh };

// Why the run (its outcome, and the seconds it was given) gave no reply, in
// words for the person, into detail. True when the CLI was not run for a
// reason of the node's (not on it, not executable, short of resources, a
// value the command shell would change): answered as cli_unavailable.
bool why_no_reply(cli which, tool_outcome how, int seconds, char* detail, size_t cap);

// Answers a run of the login CLI that gave no reply: cli_unavailable, else
// failed_error, status 200, with why_no_reply's detail. Gives the exit status, 1.
int answer_no_reply(const tool_run& run, const char* failed_error);
