// When an SPF Fail raises the flag of the `spf` action.
//
// The rule differs by where the fail is seen. The difference is intended
// and kept as it is; it is not an inconsistency to even out:
// - a fail just evaluated (fresh) always raises the flag; `refusefail` and
//   `whitelistto` are not consulted;
// - a fail found in the SPF cache raises it only with `refusefail` on and no
//   recipient whitelist (`whitelistto` empty);
// - with a recipient whitelist, the recipient stage raises it for each
//   recipient that is not whitelisted, again only with `refusefail` on.
// So `refusefail` off spares a sender whose fail is already cached, never
// the message that first found it.
#pragma once

#include <cstdint>

#include "connection/connection_context.hpp"
#include "spamconfig/spam_config.hpp"

enum class spf_fail_seen { fresh, cached, per_recipient };

// Raises the flag of the `spf` action when `result` is a fail and the rule
// for `seen` above says so; nothing for ACTION_OFF or any other result.
void flag_spf_fail(connection_context& context, const spam_config_record& config,
                   spf_fail_seen seen, int32_t result);
