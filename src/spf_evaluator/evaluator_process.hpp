// The life of one SPF evaluation process, the teslo-spf program
// (spf_evaluator/main.cpp) after its exec.
//
// Started by the SPF spawner (spawner/spawn_loop.hpp) already unprivileged.
// run_spf_evaluator makes the process non-dumpable again (the exec made it
// dumpable), reads the resolver's configuration once, loads its own
// system-call list (sandbox/syscall_lists.hpp: DNS, memory, time and its
// channel; no file opening, no new process, no program) and answers one
// question on `channel`; then it exits 0, whether an answer went or the
// channel closed first. A process never answers twice, so nothing one
// evaluation leaves behind can reach the next. The evaluation is bounded
// by an alarm a little after the question's time limit, in case the
// serving process is no longer there to end it. Exit 2: the list could not
// be loaded.
#pragma once

[[noreturn]] void run_spf_evaluator(int channel);
