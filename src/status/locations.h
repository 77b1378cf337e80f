// Where the Quorin sign-in lives on the node, computed afresh from the
// environment on every call. Paths are cut silently at kPathCap - 1 bytes.
#pragma once

#include <cstdint>

#include "platform/platform.h"

inline constexpr uint64_t kReadFileMax = 8ull * 1024 * 1024;

// The home folder in one static 512-byte area (overwritten by each call), or null.
const char* home_dir();

// home_dir, and in *source the variables that gave it (null when none did).
const char* home_dir_from(const char** source);

// The folder part of path, separator kept; empty when path has none (or is null).
void dir_of(const char* path, char out[kPathCap]);

// The service folder, always ending with a separator.
void quorin_dir(char out[kPathCap]);

// The default credentials file.
void creds_path(char out[kPathCap]);

// The folder of named-account files (no trailing separator added).
void accounts_dir(char out[kPathCap]);

// The credentials file of the named account.
void account_file(const char* name, char out[kPathCap]);

// The credentials file of an account: the named account's, or the default
// one for the empty name.
void credentials_file(const char* name, char out[kPathCap]);

// The profile file inside the environment folder.
void profile_path(char out[kPathCap]);

// The pending-login marker of an account ("default" for the empty name).
void pending_marker(const char* name, char out[kPathCap]);

// The whole file as a NUL-terminated heap text (free it), or null when it is
// missing, unreadable or longer than 8 MiB; an empty path reads as null.
char* read_file(const char* path);

// 1 when the path exists and is not a folder.
int file_exists(const char* path);
