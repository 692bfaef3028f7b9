// The daemon's SPF evaluation processes, seen from the serving process.
//
// start_evaluation_processes forks the spawner (sandbox/process_spawner.hpp)
// and from then on sends every SPF question to an evaluation process: an
// idle one, or a new one from the spawner when none is idle. A question
// holds its process until its answer is taken (or it is abandoned). Then:
// - an answer: the process goes back to the idle ones (at most 256 are kept,
//   none idle for over a minute, none after 1000 questions);
// - the process died (any signal, or exit): the answer is a fault naming
//   the signal, which the spawner reports;
// - the time limit passed: the process is killed, the answer is a fault;
// - abandoned (the message ended first): the process is killed.
// A process that failed is never reused; the next question gets a new one.
// When no process can be had (the spawner is gone, fork failed) the answer
// is a fault at once.
//
// Any worker thread may ask; the pool takes its own lock for the idle list
// and the spawner's channel only, never across an evaluation.
#pragma once

#include "sandbox/unprivileged_user.hpp"

// Must be called while the process has one thread. False (with errno) when
// the spawner cannot be started: questions are then answered with a fault.
bool start_evaluation_processes(const unprivileged_account& account);

// Kills the idle processes and ends the spawner (shutdown); questions asked
// afterwards are answered with a fault. start_evaluation_processes may
// start a new spawner afterwards.
void stop_evaluation_processes();
