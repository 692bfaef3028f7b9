// The resolver edge of the DNS blocklist lookup: asks the name servers and
// hands back the addresses, as getaddrinfo would.
//
// State: one resolver state per thread that asks (thread-local, opened at
// its first question, closed when the thread ends), and the process-wide
// resolver in force, which tests replace. A replacement is published
// atomically; a replaced resolver is kept until the process ends, since an
// abandoned lookup may still be using it. Takes no lock while it asks.
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

#include "dns/dns_reply.hpp"

struct addrinfo;

// A resolver: `resolve` answers a name as getaddrinfo would (0 with the
// addresses, else an EAI_* status); `release` frees what it gave.
struct dnsbl_resolver {
  int (*resolve)(const char* name, addrinfo** answers);
  void (*release)(addrinfo* answers);
};

// The resolver in force. The system one asks the servers of
// /etc/resolv.conf with res_nquery: the A record, then AAAA only when A
// gives no listing.
const dnsbl_resolver& current_dnsbl_resolver();

// Replaces the resolver (a null `resolve` restores the system one); returns
// the old one. For tests and the fuzz targets.
dnsbl_resolver set_dnsbl_resolver(dnsbl_resolver resolver);

// For a question sent ahead (checks/dnsbl_question.hpp): whether the system
// resolver is the one in force; the calling thread's resolver state (null
// when /etc/resolv.conf cannot be taken); the addresses of a parsed answer
// as the system resolver gives them (null when there are none); and their
// release.
bool dnsbl_uses_system_resolver();
res_state dnsbl_thread_resolver();
addrinfo* dnsbl_answers_of(const dns_reply& reply);
void dnsbl_release_answers(addrinfo* answers);
