#pragma once
// pagorex-store: a look into an image store for integrators and support staff, without the
// program. It opens the store read-only and never writes it.

#include <cstdio>

// Exit codes.
constexpr int kToolOk = 0;
constexpr int kToolProblems = 1;    // the store was read and has problems, or a record cannot be had
constexpr int kToolCannotRead = 2;  // the store or the command line cannot be used

// Runs the command line (argv[0] is the program's name); output to out, errors to err.
int RunStoreTool(int argc, char** argv, FILE* out, FILE* err);
