// Puts together the status of one account from every source on the node.
#pragma once

#include "status/status_rec.h"

// Clears rec and fills it for the account (empty name: the default account):
// credentials file, login CLI status reply, profile file, pending marker,
// expiry, and the named-account listing. Always returns 1.
int collect_status(status_rec* rec, const char* name);

// collect_status with the moment every expiry is measured from (seconds since
// the Unix epoch) given instead of read from the clock.
int collect_status_at(status_rec* rec, const char* name, int64_t now);

// Whether a stored expiry is in milliseconds: above 100,000,000,000.
bool expiry_in_ms(int64_t expires_at);

// Seconds until an expiry stored in milliseconds or seconds.
int64_t seconds_left(int64_t expires_at, int64_t now);

// An expiry in seconds: values above 100,000,000,000 are milliseconds.
int64_t expiry_seconds(int64_t expires_at);
