// The command shell's line for a tool run on Windows: the quoted tool name,
// the words (values in double quotes), the standard error redirection. Only
// the Windows program is built with it (the fuzz targets too, to check it).
#pragma once

#include <cstddef>

#include "tool/tool_args.h"

// The line's area, and the part of it the quoted tool name may take.
inline constexpr size_t kLineCap = 4096;
inline constexpr size_t kQuotedToolCap = 512;

// Writes the line for tool and args into line. False, and line empty, when
// the tool or a quoted value holds a double quote or a percent sign (cmd.exe
// reads both inside quotes, and no escape helps there), or the quoted tool
// does not fit its part: nothing is ever cut, as a cut value could name
// another file.
bool command_line(const char* tool, const tool_args& args, char line[kLineCap]);
