// Running helper programs and waiting for them: the command interpreter call of the C runtime, and
// programs whose output the caller reads (systemctl, nft).
#pragma once
#include <cstddef>

// Runs the command text through /bin/sh, with the calling program's own folder first on PATH so that
// the stand-ins installed beside it are found; the standard streams are the caller's. Returns the
// command's exit code, or -1 when it could not be run or did not exit normally.
int process_system(const char* command);

// Runs argv (argv[0] a path, or a name looked up on PATH; the list ends with null), feeding it
// `input` (null: nothing) on its standard input and collecting at most room-1 bytes of its standard
// output, zero-ended, into output (null: discarded). Its standard error is the caller's. Returns the
// exit code, or -1 when it could not be started or did not exit normally.
int process_run(const char* const* argv, const char* input, char* output, size_t room);
