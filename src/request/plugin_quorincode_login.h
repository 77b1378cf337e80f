// The plugin's entry: one request, from the environment to the response.
#pragma once

// Answers the request (or, from a shell, --meta, --version, --check or --help);
// returns the exit status.
int plugin_main(int argc, char** argv);
