// The text of --help.
#pragma once

#include <cstdio>

// Writes the usage to the stream: the options, the variables, the documents.
void print_usage(FILE* to);
