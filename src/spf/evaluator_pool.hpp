// The daemon's SPF evaluation processes, seen from the serving process.
//
// start_evaluation_processes sends every SPF question from then on to an
// evaluation process: an idle one, or a new one from the spawner
// (sandbox/process_spawner.hpp, spf_evaluator_role) when none is idle. The
// spawner comes from a supply (sandbox/spawner_client.hpp): in the daemon
// the root monitor, which forks it (this process may not create
// processes). A question holds its process until its answer is taken (or
// it is abandoned). Then:
// - an answer: the process goes back to the idle ones (at most 256 are kept,
//   none idle for over a minute, none after 1000 questions);
// - the process died (any signal, or exit): the answer is a fault naming
//   the signal, which the spawner reports;
// - the time limit passed: the process is killed, the answer is a fault;
// - abandoned (the message ended first): the process is killed.
// A process that failed is never reused, nor is an idle one that died or
// sent anything unasked; the next question gets a new one. When the
// spawner's channel is found closed (it ended), its idle processes, which
// end with it, are dropped and the next question that needs a process takes
// a new spawner from the supply at once. When no process can be had (no
// spawner from the supply, fork failed) the answer is a fault at once.
//
// Any worker thread may ask; the pool takes its own locks for the idle list
// and the spawner's channel only, never across an evaluation.
#pragma once

#include <memory>

#include "sandbox/spawner_client.hpp"
#include "spf/spf_asker.hpp"

// From now on questions go to evaluation processes, whose spawner comes
// from `supply`.
void start_evaluation_processes(spawner_supply supply);

// Kills the idle processes and closes the spawner's channel (which ends the
// spawner; shutdown); questions asked afterwards are answered with a fault
// until start_evaluation_processes is called again.
void stop_evaluation_processes();

// The question sent to an evaluation process (the daemon's ask_spf). Never
// null; its answer is a fault when no process can be had.
std::unique_ptr<pending_spf> ask_evaluation_process(const spf_question& question);
