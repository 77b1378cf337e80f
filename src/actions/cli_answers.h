// What an action answers when a CLI run gave it nothing to go on.
#pragma once

#include <cstddef>

#include "tool/runner.h"

enum class cli { login, refresh };

// The detail for an outcome that never started the CLI for a reason of the
// node's (not on it, not executable, the system short of resources, a value
// the command shell would change) into detail; false for any other outcome.
bool unavailable_detail(cli which, tool_outcome how, char* detail, size_t cap);

// Answers cli_unavailable with that detail, status 200; gives whether it did.
bool answer_unavailable(cli which, const tool_run& run);

// The detail for a run that the deadline ended, or that was not started
// because the request's time was spent, into dst; false for any other run.
bool cut_short(cli which, const tool_run& run, char* dst, size_t cap);

// Answers a login CLI run that gave no reply: cli_unavailable, or error
// (status 200) with what happened: the deadline, no time left, or "the login
// CLI returned no JSON". Gives the exit status, 1.
int answer_no_reply(const tool_run& run, const char* error);
