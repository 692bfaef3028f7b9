// What a DNS blocklist's answer means: listed or not, and the outcome a
// lookup counts. Plain functions of the answer; no state.
#pragma once

#include "metrics/counters.hpp"

struct addrinfo;

// Whether a resolver answer lists the client. Addresses in 127.255.255.0/24
// are the error answers of public blocklists (refused or over-quota queries),
// not listings; any other address, IPv6 included, is a listing.
bool dnsbl_answer_lists(const addrinfo* answers);

// The outcome a lookup counts: listed; an answer of error addresses only;
// not listed (no such name, no address: EAI_NONAME, EAI_NODATA); any other
// resolver status is a failure (the system resolver gives EAI_AGAIN for a
// timeout, a server failure or refusal and a malformed answer).
metric dnsbl_outcome(int status, bool answered, bool listed);
