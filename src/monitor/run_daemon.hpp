// The daemon's start-up, main loop and shutdown.
#pragma once

// Runs the whole life of the daemon on the calling (main) thread and returns
// its exit status: 0 after a normal stop, 255 when libmilter's main loop
// fails, 1, 64 or 69 for the start-up failures. Detaches from the terminal.
int run_daemon(int argc, char** argv);
