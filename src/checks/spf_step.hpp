// The SPF step of the envelope-sender stage, and the use of its answer.
//
// Called on the connection's libmilter worker thread, with `client_addr`,
// `client_name`, `helo_name`, `mail_from`, `sender_addr`, `receiver_host`
// and `spf_cache_key` of the context already set and `spf_result` at 5, and
// the connection's settings `config`. The result comes from the SPF result
// cache (which locks itself for the single lookup or insert only) while
// `ttl` is not 0, else from an evaluation (spf/spf_asker.hpp: in the daemon
// an evaluation process, never this one). The answer is stored in
// `spf_result`, logged, cached and acted on here.
//
// Log lines: LOG_INFO "SPF %s (cached): %s, %s, %s, %s" and
// "SPF none: %s, %s, %s, %s"; LOG_NOTICE "SPF %s: %s, %s, %s, %s";
// LOG_ERR "[ERROR] SPF initialize failed" and, for an evaluation that gave
// no answer, "[ERROR] SPF evaluation for %s failed: %s" (the sender's domain
// and the cause).
#pragma once

#include <cstdint>
#include <libmilter/mfapi.h>

#include "connection/connection_context.hpp"
#include "spf/spf_question.hpp"

// SMFIS_CONTINUE, or SMFIS_ACCEPT when the SPF library cannot be set up.
// The functions below in a row, the answer waited for at once.
sfsistat spf_step(SMFICTX* ctx, connection_context& context, const spam_config_record& config);

// The cached result for the message's key (0 when the cache has none or is
// not in use).
int32_t spf_cached_value(const connection_context& context, const spam_config_record& config);

// The question of the message, with the time limit of `config`.
spf_question spf_question_of(const connection_context& context, const spam_config_record& config);

// Uses the cached value (when not 0) or the evaluation's answer: log lines,
// `spf_result`, the cache and the flag of the `spf` action on a fail.
// SMFIS_ACCEPT when the SPF library could not be set up, else
// SMFIS_CONTINUE. An evaluation that gave no answer leaves `spf_result` at
// 5 and caches nothing, as a temporary error would.
sfsistat apply_spf(connection_context& context, const spam_config_record& config,
                   int32_t cached_value, const spf_evaluation& outcome);
