// teslo_envfrom: the start of every message of a connection.
//
// Called on the connection's worker thread at each MAIL FROM. It first
// starts the message from the connection's own state: a fresh
// message_record, the per-message fields cleared and every verdict that
// belongs to one message dropped, so nothing an earlier message of the
// connection raised or earned falls on this one. What the connect stage
// decided about the client (the DDNS flags, the whitelistip/whitelistptr
// exemption) stays. Then it grants the exemptions of the MTA macros, runs
// the malformed-HELO check, derives the sender address and the SPF cache
// key, and asks the message's DNS questions (checks/dns_questions.hpp),
// whose answers later stages take; it waits for none of them.
// Reads the connection's settings snapshot. Takes no lock itself (the SPF
// cache takes its own).
// Log lines: LOG_CRIT "smfi_getpriv failed!"; LOG_NOTICE
// "malformed HELO: %s, %s, %s".
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <syslog.h>

#include "connection/verdicts.hpp"
#include "checks/dns_questions.hpp"
#include "connection/extract_address.hpp"
#include "connection/callback_guard.hpp"
#include "common/text.hpp"
#include "connection/callbacks.hpp"
#include "connection/connection_context.hpp"
#include "connection/context_of.hpp"
#include "spamconfig/builtin_patterns.hpp"
#include "spamconfig/list_queries.hpp"
#include "spamconfig/spam_config.hpp"

namespace {

constexpr long exempt_message_size = 262144;

const char* macro(SMFICTX* ctx, const char* name) {
  return smfi_getsymval(ctx, const_cast<char*>(name));
}

// Clears what belongs to one message; keeps what connect decided about the
// client (the per-connection verdicts, the client's exemption).
void reset_message_state(connection_context& context) {
  std::free(context.subject);
  context.subject = nullptr;
  context.spf_result = 5;
  context.to_seen = 0;
  context.cc_seen = 0;
  context.mail_from[0] = '\0';
  context.sender_addr[0] = '\0';
  context.spf_cache_key[0] = '\0';
  start_message_verdicts(context);
}

void grant_macro_exemptions(SMFICTX* ctx, connection_context& context) {
  const char* size = macro(ctx, "{msg_size}");
  const char* verify = macro(ctx, "{verify}");
  if (size != nullptr && std::strtol(size, nullptr, 10) > exempt_message_size)
    grant_exemption(context, metric::exempt_large_message);
  if (macro(ctx, "{auth_authen}") != nullptr)
    grant_exemption(context, metric::exempt_authenticated);
  if (verify != nullptr && std::strcmp(verify, "OK") == 0)
    grant_exemption(context, metric::exempt_verified_certificate);
}

void check_helo(connection_context& context) {
  if (context.helo_name[0] == '[' || helo_pattern_text[0] == '\0') return;
  if (!pattern_matches(helo_pattern, context.helo_name)) return;
  log_line(LOG_NOTICE, "malformed HELO: %s, %s, %s", context.helo_name, context.client_name,
           context.mail_from);
  raise_verdict(context, spam_check::helo, settings_of(context).helocheck);
}

// Sets sender_addr; false when the sender cannot be extracted.
bool derive_sender(connection_context& context) {
  if (std::strstr(context.mail_from, "<>") != nullptr) {
    lower_ascii(context.helo_name);
    (void)std::snprintf(context.sender_addr, sizeof context.sender_addr, "postmaster@%s",
                        context.helo_name);
    return true;
  }
  if (!extract_address(context.sender_addr, context.mail_from)) return false;
  lower_ascii(context.sender_addr);
  const spam_config_record& config = settings_of(context);
  if (config.whitelistfrom != nullptr &&
      address_substring_match(config.whitelistfrom, config.whitelistfrom_index,
                              context.sender_addr)) {
    grant_exemption(context, metric::exempt_whitelisted_sender);
  }
  return true;
}

// "<client_addr>|<sender domain>"; the field holds both whole.
void build_cache_key(connection_context& context) {
  static_assert(sizeof context.spf_cache_key >=
                sizeof context.client_addr + sizeof context.sender_addr);
  const char* at = std::strchr(context.sender_addr, '@');
  (void)std::snprintf(context.spf_cache_key, sizeof context.spf_cache_key, "%s|%s",
                      context.client_addr, at != nullptr ? at + 1 : "");
}

sfsistat start_message(SMFICTX* ctx, char** argv) {
  connection_context* context = context_of(ctx);
  if (context == nullptr) return SMFIS_TEMPFAIL;
  count(metric::messages_started);
  delete context->message;
  context->message = nullptr;
  reset_message_state(*context);
  context->message = new message_record;

  const char* sender = argv != nullptr ? argv[0] : nullptr;
  grant_macro_exemptions(ctx, *context);
  if (sender != nullptr) copy_bounded(context->mail_from, sender);
  check_helo(*context);

  context->message->sender = sender != nullptr ? sender : "";
  context->message->copy_header_added = false;
  const char* queue_id = macro(ctx, "i");
  context->message->queue_id = queue_id != nullptr ? queue_id : "unknown";

  bool sender_usable = derive_sender(*context);
  if (sender_usable) {
    const char* receiver = macro(ctx, "j");
    copy_bounded(context->receiver_host, receiver != nullptr ? receiver : "localhost");
    build_cache_key(*context);
  }
  ask_dns_questions(*context, sender_usable);
  return SMFIS_CONTINUE;
}

}  // namespace

sfsistat teslo_envfrom(SMFICTX* ctx, char** argv) {
  return guard_callback("teslo_envfrom", [&] { return start_message(ctx, argv); });
}
