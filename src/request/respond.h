// The response writers shared by every action: all output goes through here.
#pragma once

#include <cstddef>

#include "support/buf.h"

// Writes bytes to standard output as they stand.
void write_out(const char* data, size_t len);

// Writes a buf's text (nothing when it holds none) and frees it.
void write_buf(buf* b);

// Writes the JSON header block (no status line: the server answers 200).
void json_headers();

// Writes one error response: status line, JSON headers, {ok:false,error,detail}.
void emit_error(int status, const char* reason, const char* error, const char* detail);
