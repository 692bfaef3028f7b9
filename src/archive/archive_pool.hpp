// The daemon's archive listers, seen from the serving process.
//
// From start_archive_listers to stop_archive_listers each archive goes to
// a lister process of its own (teslo-archive, archive_lister/main.cpp): one
// the spawner (sandbox/process_spawner.hpp, archive_lister_role) started
// ahead, or a new one, as a sealed memory file: the answer is taken within
// lister_wait_seconds, after which the process is killed; a process that
// dies, is killed or answers garbage gives a failed listing that says why
// (the signal, as the spawner reports it). The process is ended once its
// archive is done, whatever came: no lister lists twice. Then the spawner
// is asked, without waiting, to start listers ahead until two wait. The
// calling worker thread waits for the answer.
//
// The spawner comes from a supply (sandbox/spawner_client.hpp): in the
// daemon the root monitor, which starts it when the first archive comes
// and again whenever the last one was found gone; a spawner that died
// costs nothing but the listings it was doing, and when none can be had
// the archive is not listed ("no lister process"), which never holds up
// the message or its other checks.
//
// Any worker thread may ask; the spawner client takes its own lock.
#pragma once

#include <string>

#include "archive/archive_listing.hpp"
#include "sandbox/spawner_client.hpp"

inline constexpr int lister_wait_seconds = 10;

// From now on archives go to lister processes, whose spawner comes from
// `supply`.
void start_archive_listers(spawner_supply supply);

// Kills the waiting listers and closes the spawner's channel, which ends
// it (shutdown); archives asked afterwards are not listed until
// start_archive_listers is called again.
void stop_archive_listers();

// Whether archives go to lister processes (started and not stopped).
bool archive_listers_started();

// `content` listed in a lister process (the daemon's ask_archive_listing);
// status failed, saying why, when it was not: "no archive lister" before
// start_archive_listers or after stop_archive_listers.
archive_listing list_in_lister_process(const std::string& content, const char* extensions);
