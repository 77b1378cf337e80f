// The node password gate.
#pragma once

// Whether the request may pass: no node password is set, or the X-Bot-Password
// header, an Authorization "Bearer" value or the raw pwd parameter equals it.
bool gate_admits();

// Writes the 401 refusal: to a browser asking for the console page (no action,
// no format, an Accept that prefers text/html to JSON) a page that asks for
// the password; to every other request the fixed JSON answer.
void gate_refuse();
