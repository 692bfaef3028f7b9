// The spam phase of the end of a message: turns the verdict flags that the
// earlier stages raised into what the MTA sees.
//
// In order: the scanner header "X-Mail-Scan-By", the folded "Received-SPF"
// header (when the `spf` action is not off), one marking header per set
// header flag, at most one rejection (the first set eject flag in the order
// HELO, To/CC, SPF, harmful attachment, DDNS, DNS blocklist), the subject tag
// (when a header flag is set and `tagsubject` is on) and one quarantine
// request per set quarantine flag. An exempt connection gets none of these.
//
// Called by teslo_eom on the connection's worker thread; reads the context
// and its settings snapshot only. Results of the libmilter calls are ignored.
// Log lines (LOG_NOTICE): "undisclosed recipients: %s, %s -> %s" before the
// To/CC refusal; "quarantined %s: %s" with the queue id and the reasons
// (joined by "; ") once per message that gets a quarantine request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <libmilter/mfapi.h>

#include "connection/connection_context.hpp"

enum class spam_verdict { pass, rejected };

// Applies the spam actions; `rejected` when the reply has been set and the
// message must be refused (the copying must then not run).
spam_verdict apply_spam_actions(SMFICTX* ctx, const connection_context& context);

// The value of the "Received-SPF" header for the context's SPF result, cut
// to out_size - 1 characters. Each result has its own words (RFC 7208's
// result names: Pass, Fail, SoftFail, Neutral, TempError, PermError, None),
// in one layout: the word, a comment naming the receiving host, then
// receiver=, client-ip=, envelope-from= and helo=, folded with tabs.
// 0 and any number outside 1 to 7 give the None text.
void format_received_spf(char* out, std::size_t out_size, const connection_context& context);
