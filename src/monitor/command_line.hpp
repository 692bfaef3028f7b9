// The daemon's command line.
//
// "-h", "--help" and "--version" ask for the usage text or the version: the
// daemon prints it on standard output and exits 0 without starting (and so
// without touching Sendmail's configuration). Everything else is read with
// getopt and the option string "u:x" and ignored: -x and -u value are
// accepted, anything else is reported by getopt on stderr.
#pragma once

#include <cstdio>

enum class command_request { run, help, version };

// What the arguments ask for. The value after "-u" is a value, not an
// option; "--" ends the options.
command_request requested(int argc, char** argv);

void print_usage(FILE* out);
void print_version(FILE* out);

// The getopt pass that start-up makes and ignores.
void read_command_line(int argc, char** argv);
