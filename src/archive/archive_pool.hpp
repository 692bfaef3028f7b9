// The daemon's archive listers, seen from the serving process.
//
// start_archive_listers puts the sandboxed lister in place
// (archive/archive_asker.hpp). Each archive then goes to an idle lister
// process, or a new one from the spawner (sandbox/process_spawner.hpp,
// archive_lister_role), as a sealed memory file: the answer is taken within
// lister_wait_seconds, after which the process is killed; a process that
// dies, is killed or answers garbage gives a failed listing that says why
// (the signal, as the spawner reports it) and is never used again. A lister
// that answered is kept for the next archive (at most 64 idle, none idle
// over a minute, none after 200 archives). The calling worker thread waits
// for the answer.
//
// The spawner comes from a supply (sandbox/spawner_client.hpp): in the
// daemon the root monitor, which forks it when the first archive comes and
// again whenever the last one was found gone; a spawner that died costs
// nothing but the listings it was doing, and when none can be had the
// archive is not listed ("no lister process"), which never holds up the
// message or its other checks.
//
// Any worker thread may ask; the pool and the spawner client take their
// own locks.
#pragma once

#include "sandbox/spawner_client.hpp"

inline constexpr int lister_wait_seconds = 10;

// From now on archives go to lister processes, whose spawner comes from
// `supply`.
void start_archive_listers(spawner_supply supply);

// Takes the lister away, kills the idle listers and closes the spawner's
// channel, which ends it (shutdown).
void stop_archive_listers();
