// The SPF step, the last step of the envelope-sender stage.
//
// Called by teslo_envfrom on the connection's libmilter worker thread, with
// `client_addr`, `client_name`, `helo_name`, `mail_from`, `sender_addr`,
// `receiver_host` and `spf_cache_key` of the context already set and
// `spf_result` at 5, and the connection's settings `config`. It consults the
// SPF result cache (which locks itself for the single lookup or insert only)
// while `ttl` is not 0, else evaluates SPF with libspf2 (objects private to
// the call, no lock held), stores the result in `spf_result` and raises the
// SPF flag that the `spf` action names on a fail.
//
// Log lines: LOG_INFO "SPF %s (cached): %s, %s, %s, %s" and
// "SPF none: %s, %s, %s, %s"; LOG_NOTICE "SPF %s: %s, %s, %s, %s";
// LOG_ERR "[ERROR] SPF initialize failed".
#pragma once

#include <cstdint>
#include <libmilter/mfapi.h>

#include "connection/connection_context.hpp"

// SMFIS_CONTINUE, or SMFIS_ACCEPT when the SPF library cannot be set up.
// The three functions below in a row.
sfsistat spf_step(SMFICTX* ctx, connection_context& context, const spam_config_record& config);

// The step in three parts, so that the envelope-sender stage can run the
// evaluation, the one part that waits on DNS, beside its blocklist query:
// the cached result for the message's key (0 when the cache has none or is
// not in use); the evaluation, which only reads the context (its fields
// listed above) and logs nothing; and the use of either, with the log lines
// and flags above.
struct spf_evaluation {
  enum { nothing, no_server, query_error, answered } kind = nothing;
  int32_t result = 0;  // the libspf2 result when answered
};
int32_t spf_cached_value(const connection_context& context, const spam_config_record& config);
spf_evaluation evaluate_spf(const connection_context& context);
sfsistat apply_spf(connection_context& context, const spam_config_record& config,
                   int32_t cached_value, const spf_evaluation& outcome);

// Makes the libspf2 server of one evaluation. The daemon's maker uses the
// system resolver; unit tests put a local zone layer in its place.
struct SPF_server_struct;
using spf_server_maker = SPF_server_struct* (*)();

// Replaces the maker (nullptr restores the resolver one); returns the old one.
// Only for tests and benchmarks, before any worker thread runs.
spf_server_maker set_spf_server_maker(spf_server_maker maker);
