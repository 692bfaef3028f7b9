// The resolver edge of the DNS blocklist lookup: asks the name servers and
// hands back the addresses, as getaddrinfo would.
//
// State: one resolver state per thread that asks (thread-local, opened at
// its first question, closed when the thread ends). Takes no lock while it
// asks.
//
// This file's definitions (dnsbl_resolver.cpp) are an edge of the product,
// kept out of the core library: the unit tests and fuzz targets link a
// scripted resolver instead (tests/support/scripted_dnsbl), which has no
// resolver state, so nothing is sent ahead there.
//
// Fast path: the system resolver asks with res_nquery and reads the A and
// AAAA answers with the DNS layer's parser (dns/answer_parse.hpp) instead
// of calling getaddrinfo. Kept for this figure: the lookup cost 21,644
// instructions per message through getaddrinfo and 4,714 this way, every
// check on (bench/callgrind.sh, bench/README.md), when it still had a
// parser of its own; glibc's parser adds about 2,400 to each answer read
// (bench/dns_answer_bench). What it answers is checked against
// a real DNS server in tests/integration/dnsbl_answers.test.sh; no test yet
// compares it with getaddrinfo name by name.
#pragma once

#include <resolv.h>

struct addrinfo;

// Answers `name` as getaddrinfo would: 0 with the addresses, else an EAI_*
// status. Asks the servers of /etc/resolv.conf with res_nquery: the A
// record, then AAAA only when A gives no listing. What it gave is freed
// with dnsbl_release_resolved.
int dnsbl_resolve(const char* name, addrinfo** answers);
void dnsbl_release_resolved(addrinfo* answers);

// For a question sent ahead (checks/dnsbl_question.hpp): the calling
// thread's resolver state; null when /etc/resolv.conf cannot be taken (or
// no resolver state is kept), and then nothing is sent ahead.
res_state dnsbl_thread_resolver();
