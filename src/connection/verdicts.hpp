// The verdicts of the six spam checks and which of them belong to the
// message and which to the connection.
//
// Each check has a header, an eject and a quarantine flag in the context;
// the check's configured action names the one a hit raises (ACTION_OFF
// none). The end of the message acts on all of them at once.
//
// What the connect stage decides about the client (the DDNS check, the
// client's exemption) holds for every message of the connection; every
// other verdict and exemption belongs to one message and is cleared when the
// next one starts.
#pragma once

#include <cstdint>

#include "connection/connection_context.hpp"
#include "metrics/counters.hpp"
#include "spamconfig/spam_config.hpp"

// In the order of the flag groups of the context.
enum class spam_check { helo, to, spf, ddns, harmful, dnsbl };

inline constexpr spam_check per_message_checks[] = {
    spam_check::helo, spam_check::to, spam_check::spf, spam_check::harmful, spam_check::dnsbl,
};
inline constexpr spam_check per_connection_checks[] = {spam_check::ddns};

// The flag of `check` that `action` names, or null for ACTION_OFF.
uint8_t* verdict_flag(connection_context& context, spam_check check, check_action action);

// Raises the flag of `check` that `action` names; ACTION_OFF raises none.
// A flag that was down counts as a hit of the check.
void raise_verdict(connection_context& context, spam_check check, check_action action);

// Whether the spam actions spare the current message: its client or the
// message itself is exempt.
bool exempt(const connection_context& context);

// Exempts the current message from the spam actions; the first cause of the
// message (one of the exempt_* metrics) is counted.
void grant_exemption(connection_context& context, metric cause);

// Starts a message's verdicts: clears the three flags of every per-message
// check and the message's exemption, and counts a message of an exempt
// client as exempt.
void start_message_verdicts(connection_context& context);
