// The node password gate.
#pragma once

// Whether the request may pass: no node password is set, or the X-Bot-Password
// header, an Authorization "Bearer" value or the raw pwd parameter equals it.
bool gate_admits();

// Writes the fixed 401 refusal.
void gate_refuse();
