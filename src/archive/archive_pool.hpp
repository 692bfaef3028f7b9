// The daemon's archive listers, seen from the serving process.
//
// start_archive_listers forks the archive spawner (sandbox/process_spawner.hpp)
// and puts the sandboxed lister in place (archive/archive_asker.hpp). Each
// archive then goes to a new lister process of its own, as a sealed memory
// file: the answer is taken within lister_wait_seconds, after which the
// process is killed; a process that dies, is killed or answers garbage gives
// a failed listing that says why (the signal, as the spawner reports it). No
// process is used twice. The calling worker thread waits for the answer.
//
// Any worker thread may ask; the spawner client takes its own lock.
#pragma once

#include "sandbox/unprivileged_user.hpp"

inline constexpr int lister_wait_seconds = 10;

// Must be called while the process has one thread. False (with errno) when
// the spawner cannot be started: no archive is listed then.
bool start_archive_listers(const unprivileged_account& account);

// Ends the spawner (shutdown) and takes the lister away.
void stop_archive_listers();
