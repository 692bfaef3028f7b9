// The system-call lists of teslo's sandboxed processes.
//
// spf_evaluator_calls: a process that evaluates SPF (check_host). It talks on
// its channel, asks DNS over UDP and TCP as dns/resolver_source.hpp does
// (socket, connect, send, receive, poll, two socket options), allocates
// memory and reads clocks, and may signal itself (abort).
// Opening a file is answered with EACCES (glibc would re-read a changed
// /etc/resolv.conf; the process reads it once before the list is loaded),
// and it can neither start a process or thread nor execute a program.
//
// archive_lister_calls: a process that lists one archive with libarchive. It
// talks on its channel, maps the memory file it was sent, allocates memory,
// reads clocks and may signal itself (abort); opening a file is answered
// with EACCES; it can create no socket, start no process or thread and
// execute no program.
//
// spawner_calls: the spawner program (src/spawner) of one kind of helper,
// `helper` being that helper's list. The spawner forks (no namespaces),
// waits for its children, makes socket pairs for their channels, places a
// child's channel (dup2, fcntl, close_range), signals its children and
// executes the helper program. A seccomp filter is inherited across fork
// and exec and filters stack, so this list also admits what every helper
// does from its exec until it loads its own list (the dynamic loader and
// glibc's start: files opened for reading, mapping them; the helper's
// start-up: reading /etc/resolv.conf, setting limits, the lister's warm-up;
// prctl and seccomp to load the list) and every call the helper's own list
// allows, since a call made under both must pass both. So the SPF
// evaluators' spawner may make DNS sockets and the listers' may not.
// filter_process_calls: the process that serves Sendmail's connections. The
// evaluator's list plus threads (clone with CLONE_THREAD and no namespace
// flag; no new process), accepting connections, UNIX sockets (the log),
// read-only opening of files (the reloads), memory files (an archive for
// its lister) and signalling its sandboxed workers through pidfds; it has
// no child to wait for (the monitor starts the spawners). It can neither
// execute a program, start a process, trace, mount, change its identity,
// load a module or a BPF program, touch the kernel keyring nor change
// personality; removing a file is answered with EACCES. Loaded before the
// first thread.
#pragma once

#include "sandbox/syscall_filter.hpp"

syscall_list spf_evaluator_calls();
syscall_list archive_lister_calls();
syscall_list spawner_calls(const syscall_list& helper);
syscall_list filter_process_calls();
