// The DNS blocklist lookup: is the connecting client listed in a zone?
//
// Called by teslo_envfrom once for every message, on the connection's
// libmilter worker thread; it blocks that thread for as long as the system
// resolver takes. It keeps no state, takes no lock and logs nothing: every
// failure of the query reads as "not listed". It counts each lookup's
// outcome and time (metrics/counters.hpp).
//
// Fast path: the system resolver edge asks with res_nquery and parses the A
// and AAAA answers itself instead of calling getaddrinfo. Kept for this
// figure: the lookup cost 21,644 instructions per message through
// getaddrinfo and 4,714 this way, every check on (bench/callgrind.sh,
// bench/README.md). What it answers is checked against a real DNS server in
// tests/integration/dnsbl_answers.test.sh; no test yet compares it with
// getaddrinfo name by name.
#pragma once

#include <chrono>
#include <cstddef>

#include "connection/connection_context.hpp"
#include "metrics/counters.hpp"

struct addrinfo;

// True when the client is listed in `zone`: dnsbl_query_name, then
// dnsbl_name_listed.
bool dnsbl_listed(const connection_context& context, const char* zone);

// True when the query name `name` is listed; counts the lookup.
bool dnsbl_name_listed(const char* name);

// DNS names are at most 253 characters; with the final dot this many bytes
// hold every name worth asking for.
inline constexpr std::size_t dnsbl_query_name_size = 256;

// Writes the absolute query name for the client into `name` (`size` bytes):
// the four IPv4 octets in reverse order, or for a pure IPv6 client its 32
// nibbles in reverse order, then the zone and a final dot
// ("7.2.0.192.bl.example."). False when there is no zone or the name does not
// fit; such a name is never queried.
bool dnsbl_query_name(const connection_context& context, const char* zone, char* name,
                      std::size_t size);

// Whether a resolver answer lists the client. Addresses in 127.255.255.0/24
// are the error answers of public blocklists (refused or over-quota queries),
// not listings; any other address, IPv6 included, is a listing.
bool dnsbl_answer_lists(const addrinfo* answers);

// The outcome a lookup counts: listed; an answer of error addresses only;
// not listed (no such name, no address: EAI_NONAME, EAI_NODATA); any other
// resolver status is a failure (the system resolver gives EAI_AGAIN for a
// timeout, a server failure or refusal and a malformed answer).
metric dnsbl_outcome(int status, bool answered, bool listed);

// The resolver the lookup uses. The system one asks the servers of
// /etc/resolv.conf with res_nquery (one resolver state per worker thread):
// the A record, then AAAA only when A gives no listing; it answers as
// getaddrinfo would. Unit tests put a fake in its place.
struct dnsbl_resolver {
  int (*resolve)(const char* name, addrinfo** answers);
  void (*release)(addrinfo* answers);
};

// Replaces the resolver (a null `resolve` restores the system one); returns
// the old one. Only for tests, before any worker thread runs.
dnsbl_resolver set_dnsbl_resolver(dnsbl_resolver resolver);

// For a question sent ahead (checks/dnsbl_question.hpp): whether the system
// resolver is the one in use; the calling thread's resolver state (null
// when /etc/resolv.conf cannot be taken); the addresses of one answer
// message's A or AAAA records (released with dnsbl_release_answers; false
// when the message is malformed); and the decision on an answer, counted as
// one lookup that took `took`.
bool dnsbl_uses_system_resolver();
struct __res_state* dnsbl_thread_resolver();
bool dnsbl_parse_answer(const unsigned char* message, int length, int type, addrinfo** answers);
void dnsbl_release_answers(addrinfo* answers);
bool dnsbl_decide(int status, addrinfo* answers, std::chrono::steady_clock::duration took);
