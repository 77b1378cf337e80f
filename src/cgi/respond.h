// The response writers shared by every action: all output goes through here.
#pragma once

#include <cstddef>

#include "support/buf.h"

// Writes bytes to standard output as they stand.
void write_out(const char* data, size_t len);

// Writes one success response: the JSON header block (no status line: the
// server answers 200), then the body's text (none when it holds none); frees body.
void emit_json(buf* body);

// Writes one error response: status line, JSON headers, {ok:false,error,detail}.
void emit_error(int status, const char* reason, const char* error, const char* detail);
