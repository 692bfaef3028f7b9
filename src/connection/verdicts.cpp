#include "connection/verdicts.hpp"

namespace {

using flag_member = uint8_t connection_context::*;

struct check_flags {
  flag_member header;
  flag_member eject;
  flag_member quarantine;
};

// Indexed by spam_check.
constexpr check_flags flags_of_check[] = {
    {&connection_context::helo_header, &connection_context::helo_eject,
     &connection_context::helo_quarantine},
    {&connection_context::to_header, &connection_context::to_eject,
     &connection_context::to_quarantine},
    {&connection_context::spf_header, &connection_context::spf_eject,
     &connection_context::spf_quarantine},
    {&connection_context::ddns_header, &connection_context::ddns_eject,
     &connection_context::ddns_quarantine},
    {&connection_context::harmful_header, &connection_context::harmful_eject,
     &connection_context::harmful_quarantine},
    {&connection_context::dnsbl_header, &connection_context::dnsbl_eject,
     &connection_context::dnsbl_quarantine},
};

constexpr check_action flag_actions[] = {ACTION_HEADER, ACTION_EJECT, ACTION_QUARANTINE};

}  // namespace

uint8_t* verdict_flag(connection_context& context, spam_check check, check_action action) {
  const check_flags& flags = flags_of_check[static_cast<int>(check)];
  switch (action) {
    case ACTION_HEADER: return &(context.*flags.header);
    case ACTION_EJECT: return &(context.*flags.eject);
    case ACTION_QUARANTINE: return &(context.*flags.quarantine);
    case ACTION_OFF: break;
  }
  return nullptr;
}

void raise_verdict(connection_context& context, spam_check check, check_action action) {
  uint8_t* flag = verdict_flag(context, check, action);
  if (flag == nullptr) return;
  if (*flag == 0) count_check_hit(check, action);
  *flag = 1;
}

bool exempt(const connection_context& context) {
  return context.client_exempt != 0 || context.message_exempt != 0;
}

void grant_exemption(connection_context& context, metric cause) {
  if (!exempt(context)) count(cause);
  context.message_exempt = 1;
}

void start_message_verdicts(connection_context& context) {
  for (spam_check check : per_message_checks) {
    for (check_action action : flag_actions) *verdict_flag(context, check, action) = 0;
  }
  context.message_exempt = 0;
  if (context.client_exempt != 0) count(metric::exempt_whitelisted_client);
}
