// What of the plugin's environment reaches the login and refresh CLIs: what
// the operator set, and nothing the web server derived from the request.
#pragma once

// Whether the variable entry ("NAME=value") reaches the tools. Left out: the
// node password, every HTTP_* (a client's "Proxy:" header becomes HTTP_PROXY)
// and REDIRECT_* (a server's copies of them), the CGI meta-variables, and what
// the servers add of the request and its TLS session.
// Names are compared as the system compares them (Windows: ignoring case).
bool reaches_tools(const char* entry);
