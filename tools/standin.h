// Shared pieces of the stand-in login and refresh CLIs: files written whole
// or not at all, random states, the code a state signs in with, reply lines.
#pragma once

#include <cstdint>
#include <string>

// How long a stand-in access token lives: eight hours.
inline constexpr int64_t kTokenLifetime = 8 * 3600;

// Writes text to path through a temporary file and a rename, so a reader sees
// the old file or the new one, never half of one. Makes missing folders.
bool write_whole(const std::string& path, const std::string& text);

// Removes a file; true when it is gone afterwards.
bool remove_file(const std::string& path);

// n random bytes as 2n lowercase hex digits.
std::string random_hex(size_t n);

// The authorization code that the sign-in of this state shows: "qc_" and the
// 8 hex digits of the 32-bit FNV-1a hash of "quorin-standin:" + state.
std::string code_for_state(const std::string& state);

// A JSON string literal of text.
std::string json_string(const std::string& text);

// Prints one reply line and gives the exit status for it.
int reply(const std::string& json, int status = 0);

// Seconds since the Unix epoch.
int64_t unix_now();

// Milliseconds since the Unix epoch.
int64_t unix_now_ms();
