// The spawner's service: starting helper programs on request (the channel
// and its packets: sandbox/process_spawner.hpp).
//
// serve_spawn_requests runs in the spawner program after its own start-up
// (privileges dropped, system-call list loaded). For each spawn_request it
// makes a socket pair and forks; the child restores the signal dispositions
// and mask the spawner changed, asks for SIGKILL should the spawner end,
// keeps only its end of the pair, at helper_channel_fd, and the standard
// descriptors, and executes `helper_path` with no argument but its name and
// an empty environment (exit 127 when it cannot). The spawner answers with
// the helper's pid, its channel and a pidfd of it, and reports every
// helper's end with its wait status, so a helper killed by a signal is
// reported by that signal. It returns when its channel closes or breaks.
//
// Single-threaded; SIGCHLD is blocked except while waiting for requests.
#pragma once

#include <string>

#include "sandbox/helper_program.hpp"

void serve_spawn_requests(int channel, const std::string& helper_path);
