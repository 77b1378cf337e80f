// The operator's self-check: whether a sign-in can work on this node for the
// user it runs as, each problem with its fix. It only reads.
#pragma once

// Answers "--check [--json]" (argv[1] is "--check"): writes the report, as one
// JSON object with --json, to standard output. 0 when a sign-in can work,
// 1 when not, 2 for an argument it does not know.
int check_main(int argc, char** argv);
