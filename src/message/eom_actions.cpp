// The spam phase of the end of a message (see the header).
#include "message/eom_actions.hpp"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <syslog.h>

#include "common/log_sink.hpp"
#include "common/paths.hpp"
#include "common/alloc_seam.hpp"
#include "common/bounded_text.hpp"
#include "connection/verdicts.hpp"
#include "message/reply_text.hpp"
#include "metrics/counters.hpp"
#include "spamconfig/spam_config.hpp"
#include "spf/spf_result.hpp"

namespace {

constexpr const char* scanner_header = "X-Mail-Scan-By";
constexpr const char* received_spf_header = "Received-SPF";
constexpr std::size_t received_spf_size = 512;
constexpr std::size_t reject_text_size = 2000;

// The filter's name and the version this header has always named: a fixed
// text of the header, not the daemon's version (names::version).
constexpr const char* scanner_header_version = "0.2a5";

// "KORVAL ver 0.2a5".
const char* scanner_value() {
  static const std::string value =
      std::string(names::filter_name) + " ver " + scanner_header_version;
  return value.c_str();
}

// libmilter takes char*, but never writes through these pointers.
char* mutable_text(const char* text) { return const_cast<char*>(text); }

void add_header(SMFICTX* ctx, const char* name, const char* value) {
  (void)smfi_addheader(ctx, mutable_text(name), mutable_text(value));
}

struct flag_text {
  uint8_t connection_context::*flag;
  const char* text;
};

constexpr std::array<flag_text, 6> marking_headers{{
    {&connection_context::helo_header, "X-QZ-SPAM-HELO"},
    {&connection_context::to_header, "X-QZ-SPAM-TO"},
    {&connection_context::spf_header, "X-QZ-SPAM-SPF"},
    {&connection_context::harmful_header, "X-QZ-SPAM-HARMFUL"},
    {&connection_context::ddns_header, "X-QZ-SPAM-DDNS"},
    {&connection_context::dnsbl_header, "X-QZ-DNSBL"},
}};

constexpr std::array<flag_text, 6> quarantine_reasons{{
    {&connection_context::helo_quarantine, "HELO CHECK failed(BOGUS_HELO)"},
    {&connection_context::to_quarantine, "To or CC header unknown"},
    {&connection_context::spf_quarantine, "SPF unknown(FAILED?)"},
    {&connection_context::ddns_quarantine, "From DDNS"},
    {&connection_context::harmful_quarantine, "quarantine from Content-Dispotion header"},
    {&connection_context::dnsbl_quarantine, "From DNSbase blacklist check"},
}};

// Sets the reply, counts it and says so; the text may embed client input.
spam_verdict reject(SMFICTX* ctx, metric reason, const char* code, const char* text) {
  count(reason);
  char safe[reply_text_max + 1];
  (void)safe_reply_text(safe, sizeof safe, text);
  (void)smfi_setreply(ctx, mutable_text(code), mutable_text("5.7.1"), safe);
  return spam_verdict::rejected;
}

// Step 5: the first set eject flag, in its fixed order, refuses the message.
bool refuse_if_ejected(SMFICTX* ctx, const connection_context& context) {
  char text[reject_text_size];
  if (context.helo_eject != 0) {
    reject(ctx, metric::refused_eom_helo, "550", "Unwanted contents of the HELO command");
  } else if (context.to_eject != 0) {
    log_line(LOG_NOTICE, "undisclosed recipients: %s, %s -> %s", context.client_name,
             context.mail_from, context.rcpt_to);
    reject(ctx, metric::refused_eom_to, "554", "Message for undisclosed recipients");
  } else if (context.spf_eject != 0) {
    (void)std::snprintf(text, sizeof text, "Rejected, check your DNS record sender:%s addr:%s,%s,",
                        context.sender_addr, context.client_addr, context.receiver_host);
    reject(ctx, metric::refused_eom_spf, "550", text);
  } else if (context.harmful_eject != 0) {
    reject(ctx, metric::refused_eom_harmful, "554",
           "Executable attachments are not allowed. Compress it and retry once again");
  } else if (context.ddns_eject != 0) {
    reject(ctx, metric::refused_eom_ddns, "550", "Unwated DDNS client");
  } else if (context.dnsbl_eject != 0) {
    (void)std::snprintf(text, sizeof text, "Blocked, look at blacklist ip=%s", context.client_addr);
    reject(ctx, metric::refused_eom_dnsbl, "550", text);
  } else {
    return false;
  }
  return true;
}

// Step 6: the tag goes before the first Subject, or becomes the Subject.
void tag_subject(SMFICTX* ctx, const connection_context& context) {
  const char* tag = settings_of(context).tag != nullptr ? settings_of(context).tag : "";
  if (context.subject == nullptr) {
    add_header(ctx, "Subject", tag);
    return;
  }
  std::size_t size = std::strlen(tag) + std::strlen(context.subject) + 2;
  std::unique_ptr<char, decltype(&std::free)> value(static_cast<char*>(teslo_malloc(size)),
                                                    &std::free);
  if (value == nullptr) return;
  (void)std::snprintf(value.get(), size, "%s %s", tag, context.subject);
  (void)smfi_chgheader(ctx, mutable_text("Subject"), 1, value.get());
}

}  // namespace

void format_received_spf(char* out, std::size_t out_size, const connection_context& c) {
  bounded_text value(out, out_size);
  switch (c.spf_result) {
    case spf_code::pass:
      value << "Pass (" << c.receiver_host << ": domain of " << c.sender_addr << "\n\tdesignates "
            << c.client_addr << " as permitted sender";
      break;
    case spf_code::fail:
      value << "Fail (" << c.receiver_host << ": domain of " << c.sender_addr
            << "\n\tdoes not designate " << c.client_addr << " as permitted sender";
      break;
    case spf_code::softfail:
      value << "SoftFail (" << c.receiver_host << ": transitioning domain of " << c.sender_addr
            << "\n\tdoes not designate " << c.client_addr << " as permitted sender";
      break;
    case spf_code::neutral:
      value << "Neutral (" << c.receiver_host << ": " << c.client_addr
            << " is neither permitted\n\tnor denied by domain of " << c.sender_addr;
      break;
    case spf_code::temperror:
      value << "TempError (" << c.receiver_host << ": domain of " << c.sender_addr
            << "\n\tcould not be checked: transient error in processing";
      break;
    case spf_code::permerror:
      value << "PermError (" << c.receiver_host << ": domain of " << c.sender_addr
            << "\n\tpublishes an SPF policy that cannot be interpreted";
      break;
    default:
      value << "None (" << c.receiver_host << ": domain of " << c.sender_addr
            << "\n\tdoes not designate permitted sender hosts";
      break;
  }
  value << ")\n\treceiver=" << c.receiver_host << "; client-ip=" << c.client_addr
        << ";\n\tenvelope-from=" << c.mail_from << "; helo=" << c.helo_name << ";";
}

spam_verdict apply_spam_actions(SMFICTX* ctx, const connection_context& context) {
  if (exempt(context)) return spam_verdict::pass;
  const spam_config_record& config = settings_of(context);
  add_header(ctx, scanner_header, scanner_value());
  if (config.spf != ACTION_OFF) {
    char value[received_spf_size] = {};
    format_received_spf(value, sizeof value, context);
    add_header(ctx, received_spf_header, value);
  }
  bool marked = false;
  for (const auto& row : marking_headers) {
    if (context.*row.flag == 0) continue;
    add_header(ctx, row.text, "SPAM");
    marked = true;
  }
  if (refuse_if_ejected(ctx, context)) return spam_verdict::rejected;
  // With `tagsubject` off the Subject is left alone: adding a second one
  // would give the message two Subject headers.
  if (marked && config.tagsubject != 0) tag_subject(ctx, context);
  std::string reasons;
  for (const auto& row : quarantine_reasons) {
    if (context.*row.flag == 0) continue;
    (void)smfi_quarantine(ctx, mutable_text(row.text));
    reasons += (reasons.empty() ? "" : "; ") + std::string(row.text);
  }
  // Sendmail records the reasons in the queue file; Postfix only logs that
  // the filter asked for HOLD. One line here keeps them behind either MTA.
  if (!reasons.empty()) {
    log_line(LOG_NOTICE, "quarantined %s: %s",
             context.message != nullptr ? context.message->queue_id.c_str() : "unknown",
             reasons.c_str());
  }
  return spam_verdict::pass;
}
