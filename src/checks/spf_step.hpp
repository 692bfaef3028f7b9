// The SPF step of the envelope-sender stage, in its parts: the cached
// result, the question (asked ahead by checks/dns_questions.hpp) and the use
// of its answer.
//
// Called on the connection's libmilter worker thread, with `client_addr`,
// `client_name`, `helo_name`, `mail_from`, `sender_addr`, `receiver_host`
// and `spf_cache_key` of the context already set and `spf_result` at 5, and
// the connection's settings `config`. The result comes from the SPF result
// cache (which locks itself for the single lookup or insert only) while
// `ttl` is not 0, else from an evaluation (spf/spf_asker.hpp: in the daemon
// an evaluation process, never this one). The answer is stored in
// `spf_result`, logged, cached and acted on here. Nothing an evaluation
// answers changes how the message is handled beyond its SPF result: the
// stage always goes on (there is no status to return).
//
// Every fresh result is stored as itself (1 to 7; 0, which no evaluation
// should give, leaves 5). Cached are results 1 to 5 that used no macro
// letter beyond the key (h, l, s, t); temperror and permerror never are, so
// the next message asks again. An evaluation that gave no answer (its
// process died, ran past `spftimeout`, or none could be had) is a failure of
// the check: temperror for this message, nothing cached.
//
// Log lines: LOG_INFO "SPF %s (cached): %s, %s, %s, %s"; LOG_NOTICE
// "SPF %s: %s, %s, %s, %s" for every fresh result (result text, client
// address, client name, HELO name, MAIL FROM argument); LOG_INFO
// "SPF %s for %s: %s" after a temperror or permerror that says what went
// wrong (result text, the sender's domain, the problem); LOG_ERR
// "[ERROR] SPF evaluation for %s failed: %s" for an evaluation that gave no
// answer (the sender's domain and the cause).
#pragma once

#include <cstdint>

#include "connection/connection_context.hpp"
#include "spf/spf_question.hpp"

// The cached result for the message's key (0 when the cache has none or is
// not in use).
int32_t spf_cached_value(const connection_context& context, const spam_config_record& config);

// The question of the message, with the time limit of `config`.
spf_question spf_question_of(const connection_context& context, const spam_config_record& config);

// Uses the cached value (when not 0) or the evaluation's answer: log lines,
// `spf_result`, the cache and the flag of the `spf` action on a fail.
void apply_spf(connection_context& context, const spam_config_record& config, int32_t cached_value,
               const spf_evaluation& outcome);
