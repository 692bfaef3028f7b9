// The DNS blocklist lookup: is the connecting client listed in a zone?
//
// Asked for every message when the end of the message needs the answer
// (checks/dnsbl_question.hpp sends the question ahead and comes here when
// its answer does not settle it); it blocks its thread for as long as the
// resolver takes. Logs nothing: every failure of the query reads as "not
// listed". It counts each lookup's outcome and time (metrics/counters.hpp).
// Its parts: the query name (dnsbl_query_name.hpp), the resolver edge with
// its state (dnsbl_resolver.hpp) and the listing decision
// (dnsbl_listing.hpp); this file adds no state of its own.
#pragma once

#include <netdb.h>

#include <chrono>

#include "checks/dnsbl_listing.hpp"
#include "checks/dnsbl_query_name.hpp"
#include "connection/connection_context.hpp"

// True when the client is listed in `zone`: dnsbl_query_name, then
// dnsbl_name_listed.
bool dnsbl_listed(const connection_context& context, const char* zone);

// True when the query name `name` is listed; counts the lookup.
bool dnsbl_name_listed(const char* name);

// The decision on an answer of the system resolver that a question sent
// ahead read itself: counted as one lookup that took `took`; frees the
// answers.
bool dnsbl_decide(int status, addrinfo* answers, std::chrono::steady_clock::duration took);
