// The text of --help.
#pragma once

#include <cstdio>

// Writes the usage to the stream: the options, the variables, the documents.
void print_usage(FILE* to);

// Writes "plugin_quorincode_login: <complaint> "<arg>"" and the usage to
// standard error; returns 2, the exit status of a wrong option.
int usage_error(const char* complaint, const char* arg);
