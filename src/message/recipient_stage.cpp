// teslo_envrcpt: the recipient stage.
//
// libmilter calls it once per RCPT TO, after MAIL FROM, on the connection's
// worker thread. It refuses a malformed recipient address (550 5.1.3, nothing
// logged), applies the recipient whitelist (a hit makes the message exempt
// from the spam actions and the recipient is not recorded), applies the
// per-recipient SPF Fail rule (connection/spf_fail_rule.hpp) while a
// recipient whitelist exists, and records the recipient for the copy rules.
#include <cstring>
#include <string>
#include <syslog.h>

#include "checks/dns_questions.hpp"
#include "connection/verdicts.hpp"
#include "connection/extract_address.hpp"
#include "connection/spf_fail_rule.hpp"
#include "connection/callback_guard.hpp"
#include "common/text.hpp"
#include "connection/callbacks.hpp"
#include "connection/connection_context.hpp"
#include "connection/context_of.hpp"
#include "spamconfig/list_queries.hpp"
#include "spamconfig/spam_config.hpp"

namespace {

char malformed_code[] = "550";
char malformed_xcode[] = "5.1.3";
char malformed_text[] = "Recipient address does not conform to RFC-2821 syntax";

// The recipient as the copy rules see it: the text inside the leading "<" up
// to the first ">", or the whole argument when it has no leading "<".
std::string recorded_form(const char* argument) {
  if (argument[0] != '<') return argument;
  const char* inside = argument + 1;
  const char* close = std::strchr(inside, '>');
  return close == nullptr ? std::string(inside) : std::string(inside, close);
}

}  // namespace

sfsistat teslo_envrcpt(SMFICTX* ctx, char** argv) {
  return guard_callback("teslo_envrcpt", [&] {
    connection_context* context = context_of(ctx);
    if (context == nullptr) return SMFIS_TEMPFAIL;
    const spam_config_record& config = settings_of(*context);
    const char* argument = argv != nullptr && argv[0] != nullptr ? argv[0] : "";
    copy_bounded(context->rcpt_to, argument);
    if (!extract_address(context->rcpt_addr, context->rcpt_to)) {
      (void)smfi_setreply(ctx, malformed_code, malformed_xcode, malformed_text);
      count(metric::refused_malformed_recipient);
      return SMFIS_REJECT;
    }
    if (config.whitelistto != nullptr) {
      lower_ascii(context->rcpt_addr);
      if (address_substring_match(config.whitelistto, config.whitelistto_index,
                                  context->rcpt_addr)) {
        grant_exemption(*context, metric::exempt_whitelisted_recipient);
        return SMFIS_CONTINUE;
      }
      // The SPF result is needed here: the message's DNS answers are
      // taken now rather than at its end.
      take_dns_answers(*context);
      flag_spf_fail(*context, config, spf_fail_seen::per_recipient, context->spf_result);
    }
    if (context->message != nullptr)
      context->message->recipients.push_back(recorded_form(argument));
    return SMFIS_CONTINUE;
  });
}
