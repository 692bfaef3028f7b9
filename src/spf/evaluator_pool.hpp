// The daemon's SPF evaluation processes, seen from the serving process.
//
// start_evaluation_processes sends every SPF question from then on to an
// evaluation process of its own (teslo-spf, spf_evaluator/main.cpp): one
// the spawner (sandbox/process_spawner.hpp, spf_evaluator_role) started
// ahead, or a new one. The spawner comes from a supply
// (sandbox/spawner_client.hpp): in the daemon the root monitor, which
// starts it (this process may not create processes). A question holds its
// process until its answer is taken (or it is abandoned), and the process
// is ended then, whatever came:
// - an answer: it is the question's;
// - the process died (any signal, or exit): the answer is a fault naming
//   the signal, which the spawner reports;
// - the time limit passed: the process is killed, the answer is a fault;
// - abandoned (the message ended first): the process is killed.
// No process answers twice. Once a question is done, the spawner is asked,
// without waiting, to start processes ahead until four wait. A waiting
// process that died or sent anything unasked is never used. When the
// spawner's channel is found closed (it ended), the processes it started
// ahead, which end with it, are dropped and the next question takes a new
// spawner from the supply at once. When no process can be had (no spawner
// from the supply, fork failed) the answer is a fault at once.
//
// Any worker thread may ask; the spawner client takes its own lock for the
// spawner's channel only, never across an evaluation.
#pragma once

#include <memory>

#include "sandbox/spawner_client.hpp"
#include "spf/spf_asker.hpp"

// From now on questions go to evaluation processes, whose spawner comes
// from `supply`.
void start_evaluation_processes(spawner_supply supply);

// Kills the waiting processes and closes the spawner's channel (which ends the
// spawner; shutdown); questions asked afterwards are answered with a fault
// until start_evaluation_processes is called again.
void stop_evaluation_processes();

// The question sent to an evaluation process (the daemon's ask_spf). Never
// null; its answer is a fault when no process can be had.
std::unique_ptr<pending_spf> ask_evaluation_process(const spf_question& question);
