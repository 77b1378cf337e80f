// The operations a request can be routed to; each writes one whole response and
// returns the process exit status.
#pragma once

struct request_body;

// The status document for an account (empty name: the default account).
int action_status(const char* name);

// Starts a sign-in through the login CLI.
int action_start(const char* name, bool force);

// Asks the login CLI to drop a pending sign-in; always answers success.
int action_cancel(const char* name);

// Hands the pasted authorization code to the login CLI; reads the body when the
// query has no code.
int action_finish(const char* name, bool force, const char* query, request_body* body);

// Renews the access token through the refresh CLI.
int action_refresh(const char* name);
