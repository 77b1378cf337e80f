// The command shell's line for a tool run: the quoted tool name, the words,
// the standard error redirection.
#pragma once

#include <cstddef>

#include "tool/tool_args.h"

// The command shell's line, and the quoted tool name at its start.
inline constexpr size_t kLineCap = 4096;
inline constexpr size_t kQuotedToolCap = 512;

// Writes value in double quotes into dst (cap >= 3), escaping what the shell
// would read inside them; a value that does not fit is cut, always closed.
void shell_quote_into(const char* value, char* dst, size_t cap);

// Whether the quoted tool fits its area. One that does not is never run:
// cut, it could name another program.
bool tool_fits(const char* tool);

// The command shell's line for tool and args: the quoted tool, the words
// (quoted where marked), the standard error redirection. False, and nothing
// written, when the quoted tool does not fit its area, or a quoted value holds
// a double quote where the shell cannot take one (Windows).
bool command_line(const char* tool, const tool_args& args, char line[kLineCap]);
