// Standard output that is known to have arrived.
#pragma once

// Flushes standard output. If that or any earlier write to it failed (a full
// device, a closed descriptor), says so on standard error, naming `what`
// could not be written, and ends the process with exit status 1: a result
// that never reached its reader is no success.
void flush_or_exit(const char *what);
