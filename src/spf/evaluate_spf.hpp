// One SPF evaluation with libspf2, in the calling process.
//
// The calls of one evaluation, in order: SPF_server_new (DNS layer
// SPF_DNS_RESOLV), SPF_server_set_rec_dom, SPF_request_new, the client
// address, HELO domain and envelope sender, SPF_request_query_mailfrom,
// SPF_response_result, then the response, request and server freed. Nothing
// of libspf2 survives from one evaluation to the next. The server's DNS
// questions pass through a term budget (spf/term_budget.hpp), so an
// evaluation asks at most 10 terms' worth of questions.
//
// The answer is always "answered": libspf2's result, except that an error
// code of the query with a result other than temperror or permerror gives
// temperror (a DNS or local failure) or permerror (a fault of the record,
// such as a syntax error); "no SPF record" with none stays none. A server or request that cannot be made gives
// temperror. temperror and permerror carry libspf2's error text as the
// problem. The macro letters are those found in the SPF records fetched
// (term_budget), a superset of those expanded.
//
// The daemon never calls this in the process that serves Sendmail: it runs
// in an evaluation process (spf/evaluator_process.hpp), where a crash of
// libspf2 costs one answer. Unit tests and fuzz targets call it directly.
#pragma once

#include "spf/spf_question.hpp"

extern "C" {
struct SPF_server_struct;
}

spf_evaluation evaluate_spf(const spf_question& question);

// Makes the libspf2 server of one evaluation. The default uses the system
// resolver; unit tests put a local zone layer in its place.
using spf_server_maker = SPF_server_struct* (*)();

// Replaces the maker (nullptr restores the resolver one); returns the old one.
// Only for tests and benchmarks, before any evaluation runs.
spf_server_maker set_spf_server_maker(spf_server_maker maker);
