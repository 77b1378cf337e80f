// The argument lines of the login and refresh CLIs. Each area is sized for its
// worst case, so a line is never cut.
#pragma once

#include <algorithm>
#include <cstddef>

#include "login/code.h"
#include "platform/platform.h"
#include "status/locations.h"

// Quoted values: an account name (at most 64 bytes, none escaped), an
// authorization code, and a credentials path.
inline constexpr size_t kQuotedNameCap = 192;
inline constexpr size_t kQuotedCodeCap = 2112;
// The longest quoted path with its NUL: every byte escaped, and two quotes.
inline constexpr size_t kQuotedPathMax = kShellEscapeWidth * (kPathCap - 1) + 3;
inline constexpr size_t kQuotedPathCap = std::max<size_t>(2048, kQuotedPathMax);

// " --name " and a quoted name.
inline constexpr size_t kNameOptionCap = sizeof " --name " - 1 + kQuotedNameCap;

inline constexpr size_t kStatusArgsCap = sizeof "--status" - 1 + kNameOptionCap;
inline constexpr size_t kStartArgsCap = sizeof "--start --force" - 1 + kNameOptionCap;
inline constexpr size_t kCancelArgsCap = sizeof "--cancel" - 1 + kNameOptionCap;
inline constexpr size_t kFinishArgsCap =
    sizeof "--finish  --force" - 1 + kQuotedCodeCap + kNameOptionCap - 1;
inline constexpr size_t kRefreshArgsCap =
    std::max<size_t>(1120, sizeof "--credentials-file  --force" - 1 + kQuotedPathMax);

// "--status", or "--status --name N" with the name as it stands.
void status_args(const char* name, char out[kStatusArgsCap]);

// "--start", the force option, and the quoted name's option.
void start_args(const char* name, bool force, char out[kStartArgsCap]);

// "--cancel" and the quoted name's option.
void cancel_args(const char* name, char out[kCancelArgsCap]);

// "--finish" with the quoted code, the quoted name's option, the force option.
void finish_args(const char* code, const char* name, bool force, char out[kFinishArgsCap]);

// "--credentials-file" with the quoted path, and "--force".
void refresh_args(const char* creds_path, char out[kRefreshArgsCap]);
