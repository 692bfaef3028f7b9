// The DNS questions of one message, asked at MAIL FROM and answered where a
// stage needs them (take_dns_answers).
//
// The envelope-sender stage asks both at once: the blocklist question (sent
// ahead, checks/dnsbl_question.hpp) and the SPF question (an evaluation
// process), unless the SPF result cache already holds the answer. Nothing waits for them there:
// the client goes on sending recipients, headers and body while DNS answers.
// take_dns_answers waits for both and uses them, in this order: the
// blocklist line and flag, then the SPF step's line, result, cache entry
// and flag (or the line for an unusable sender). The end of the message
// takes them first thing; the first recipient takes them when a recipient
// whitelist exists, because the SPF fail rule per recipient needs the
// result there. Taking them twice does nothing the second time.
//
// A message that ends before its answers are taken (abort, a new MAIL FROM,
// close) abandons them: the evaluation process is ended and the blocklist
// answer, if it comes, is dropped.
//
// Log lines: LOG_NOTICE "DNSBL: %s, %s, %s"; LOG_INFO "sender address
// unusable, no SPF check: %s, %s, %s"; those of checks/spf_step.hpp.
#pragma once

#include "connection/connection_context.hpp"

// Asks the message's questions; `sender_usable` false when no sender
// address could be derived (no SPF question then). The message record must
// exist. Whatever the answers, the message then goes through the spam
// actions and the copying as any other.
void ask_dns_questions(connection_context& context, bool sender_usable);

// Takes the current message's DNS answers: waits for them and uses them
// (log lines, flags, SPF result). Nothing when there is no message, nothing
// was asked or the answers were taken already.
void take_dns_answers(connection_context& context);
