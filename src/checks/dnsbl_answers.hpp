// The addresses of a DNS answer as getaddrinfo hands them back: a list of
// addrinfo nodes, each with its address in the same block, freed with
// dnsbl_release_answers. Used by the system resolver of the blocklist
// lookup and by a question sent ahead (dnsbl_question.hpp). No state.
#pragma once

#include "dns/dns_reply.hpp"

struct addrinfo;

// Appends the addresses of `reply` at `*link` and moves `*link` to the new
// end; false when memory runs out (what was appended stays in the list).
bool dnsbl_append_answers(const dns_reply& reply, addrinfo*** link);

// The addresses of `reply` (null when there are none or memory runs out).
addrinfo* dnsbl_answers_of(const dns_reply& reply);

void dnsbl_release_answers(addrinfo* answers);
