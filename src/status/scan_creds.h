// Reads one credentials file's text into the credential facts of a status.
#pragma once

#include "status/status_rec.h"

// Fills logged_in, has_refresh, expires_at, subscription and scopes of rec (and
// the first three of entry, when given) from the "quorinAiOauth" object of text.
// rec must be cleared; a null text, or one without the object, changes nothing.
void scan_creds(const char* text, status_rec* rec, account_rec* entry);
