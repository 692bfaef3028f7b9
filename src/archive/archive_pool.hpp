// The daemon's archive listers, seen from the serving process.
//
// start_archive_listers forks the archive spawner (sandbox/process_spawner.hpp)
// and puts the sandboxed lister in place (archive/archive_asker.hpp). Each
// archive then goes to an idle lister process, or a new one, as a sealed
// memory file: the answer is taken within lister_wait_seconds, after which
// the process is killed; a process that dies, is killed or answers garbage
// gives a failed listing that says why (the signal, as the spawner reports
// it) and is never used again. A lister that answered is kept for the next
// archive (at most 64 idle, none idle over a minute, none after 200
// archives). The calling worker thread waits for the answer.
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
