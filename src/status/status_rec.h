// The status of one account at one moment. Fixed size, no heap parts; all zero
// is the cleared state that every collection starts from.
#pragma once

#include <cstdint>

#include "platform/process.h"

inline constexpr int kMaxAccounts = 64;

// One named-account entry of the listing.
struct account_rec {
  char name[96];
  int32_t logged_in;
  int32_t has_refresh;
  int32_t expired;
  int64_t expires_at;      // as stored: milliseconds or seconds
  int64_t expires_in_sec;  // from the time of collection
};

struct status_rec {
  int32_t logged_in;
  int32_t has_refresh;
  int32_t pending;
  int32_t expired;
  int32_t cli_present;
  int32_t profile_exists;
  int32_t credentials_read;  // the file was read whole; not part of the document
  char account[96];
  char credentials_path[1024];
  char profile[96];
  char profile_file[1024];
  char subscription[64];
  char scopes[256];
  // How the login CLI's --status run went, and its reply line up to the
  // line's end, cut; neither is part of the document.
  tool_outcome cli_outcome;
  char cli_reply[512];
  int64_t expires_at;      // as stored: milliseconds or seconds; 0 when unknown
  int64_t expires_in_sec;  // 0 when no expiry or not logged in
  account_rec accounts[kMaxAccounts];
  int32_t account_count;
};
