// What the commands share about their command lines: the end of a help or
// version request, and the way a bad argument is refused.
#pragma once

// Ends the process after the help was printed: status 0, or 1 with a
// message if it could not be written.
[[noreturn]] void finish_help();

// Writes "<program> <version>" and ends the process as finish_help does.
[[noreturn]] void print_version();

// Says on standard error what was wrong with the command line and where the
// help is, and ends the process with exit status 2.
[[noreturn]] void refuse_command_line(const char *problem);
