// Copying at end of message: the tail of teslo_eom.
//
// Called by teslo_eom on the connection's libmilter worker thread for every
// message that the spam actions did not refuse. Takes one snapshot of the
// copy-rule table and applies every rule of it, so a reload during the phase
// never mixes two tables. Writes only message->copy_header_added.
//
// Log lines: LOG_ERR "configure error:copy rcpt mailaddr size to big!" and
// "configure error:copy rcpt mailaddr size to big! %s"; LOG_ERR
// "Thrown error: %s" then LOG_DEBUG "teslo_eom: exit error".
//
// Fast path: the common address shapes are matched in place instead of
// through normalise_recipient / normalise_sender (5 strings per rule). Kept
// for this figure: the copy rules cost 3,778 instructions per message before
// and 2,243 after, every check on (bench/callgrind.sh, bench/README.md). Its
// equivalence test against the plain way:
// copy_phase.matches_as_the_full_normalisation_does (tests/message).
#pragma once

#include <libmilter/mfapi.h>

#include <string>

#include "copyrules/copy_rule_table.hpp"
#include "connection/connection_context.hpp"

// Longest copy address a rule may give; a longer one in a matching rule is a
// configuration error.
inline constexpr std::size_t copy_address_limit = 512;

// Adds the copy recipients of the matching rules and, with the first copy,
// the header "X-TESLO-ID". Returns SMFIS_CONTINUE when all rules were
// applied, SMFIS_ACCEPT when a matching rule's address is too long (earlier
// copies stay requested), SMFIS_TEMPFAIL on an internal error.
sfsistat copy_phase(SMFICTX* ctx, connection_context& context);

// The same with a given table (copy_phase passes the snapshot in force).
sfsistat copy_phase(SMFICTX* ctx, connection_context& context, const copy_rule_table& rules);

// Address normalisation, exposed for tests. `host` completes an address
// without "@". A recipient: brackets added when it does not start with "<",
// completed, then trimmed. The sender: bracketed, trimmed, then completed.
std::string normalise_recipient(const std::string& address, const std::string& host);
std::string normalise_sender(const std::string& address, const std::string& host);

// True when the rule's pattern occurs in `address` (case-sensitive) or the
// pattern contains "ALL>".
bool copy_rule_matches(const copy_rule& rule, const std::string& address);
