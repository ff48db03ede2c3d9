// Process services: the clock and command execution. No state besides the temporary
// ring that a command line is terminated in.
#pragma once

#include <cstdint>

#include "runtime/text/slice.h"

// Whole seconds since 1970-01-01 00:00:00 UTC, whatever the local time zone.
[[nodiscard]] int64_t system_time();

// Runs the command line through the shell and returns the command's exit status (128 +
// the signal's number when a signal ended it). Everything written to standard output
// before goes out first. -1 when no shell can be started, when the command is too long
// for the temporary ring (over 16383 bytes), or when it holds a NUL byte (the shell would
// run the command cut there); nothing is run then.
int32_t system_execute(Slice command);
