// The system-call lists of teslo's sandboxed processes.
//
// spf_evaluator_calls: a process that evaluates SPF with libspf2. It talks on
// its channel, asks DNS over UDP and TCP (socket, connect, send, receive,
// poll), allocates memory and reads clocks, and may signal itself (abort).
// Opening a file is answered with EACCES (glibc would re-read a changed
// /etc/resolv.conf; the process reads it once before the list is loaded),
// and it can neither start a process or thread nor execute a program.
//
// spf_spawner_calls: the process that forks evaluators. The evaluator's list
// plus fork (no namespaces), waiting for its children, socket pairs for
// their channels, read-only opening of files (an evaluator reads the
// resolver's files before it loads its own list), closing inherited
// descriptors, signals to its children and loading that list.
#pragma once

#include "sandbox/syscall_filter.hpp"

syscall_list spf_evaluator_calls();
syscall_list spf_spawner_calls();
