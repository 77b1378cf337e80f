// Running the login CLI for an action that answers from its reply line.
#pragma once

#include "support/buf.h"
#include "tool/tool_args.h"

// Runs the login CLI with args and gives its reply line inside capture. When
// there is none it answers the request itself (cli_unavailable, or
// failed_error: "the login CLI returned no JSON", or did not finish within the
// request's deadline), frees capture and gives null. With timed_out, a run the
// deadline ended is not answered but said there.
const char* login_reply(const tool_args& args, buf* capture, const char* failed_error,
                        bool* timed_out = nullptr);

// Answers failed_error: the login CLI did not finish within the deadline.
void answer_timed_out(const char* failed_error);
