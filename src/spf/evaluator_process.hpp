// The life of one SPF evaluation process.
//
// Forked by the spawner (sandbox/process_spawner.hpp) with its privileges
// already dropped. It reads the resolver's configuration once, loads its own
// system-call list (sandbox/syscall_lists.hpp: DNS, memory, time and its
// channel; no file opening, no new process, no program) and then answers one
// question after another on its channel until the channel closes. Each
// evaluation is bounded by an alarm a little after the question's time
// limit, in case the serving process is no longer there to end it.
//
// spf_evaluator_role names the spawner "teslo-spawner" and each process
// "teslo-spf".
#pragma once

#include "sandbox/process_spawner.hpp"

[[noreturn]] void serve_spf_questions(int channel);

extern const spawned_role spf_evaluator_role;
