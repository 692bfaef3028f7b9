// teslo_header and teslo_eoh: the Subject, To and CC headers.
//
// libmilter calls teslo_header once per header and teslo_eoh once after the
// last one, on the connection's worker thread. They keep the first Subject
// (for the subject tag, only while `tagsubject` is on), run the
// undisclosed-recipients check on every To header and, at the end of the
// headers, the To/CC-missing check; both act by the `tocheck` action. The
// only refusal on the spot is an undisclosed-recipients To header under
// "eject" (554 5.7.1). teslo_eoh also empties the body line for the body scan.
//
// Log lines (LOG_NOTICE): "undisclosed recipients: %s, %s -> %s" and
// "To: and CC: are not filled: %s, %s -> %s" (client name, MAIL FROM,
// latest RCPT TO).
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <syslog.h>

#include "checks/action_flags.hpp"
#include "common/alloc_seam.hpp"
#include "common/callback_guard.hpp"
#include "common/log_sink.hpp"
#include "daemon/callbacks.hpp"
#include "message/connection_context.hpp"
#include "spamconfig/builtin_patterns.hpp"
#include "spamconfig/spam_config.hpp"

namespace {

char undisclosed_code[] = "554";
char undisclosed_xcode[] = "5.7.1";
char undisclosed_text[] = "Message for undisclosed recipients";

connection_context* context_of(SMFICTX* ctx) {
  auto* context = static_cast<connection_context*>(smfi_getpriv(ctx));
  if (context == nullptr) log_line(LOG_CRIT, "smfi_getpriv failed!");
  return context;
}

bool undisclosed(const char* value) {
  return undisclosed_pattern_text[0] != '\0' && pattern_matches(undisclosed_pattern, value);
}

// An undisclosed-recipients To header, by the `tocheck` action.
sfsistat act_on_undisclosed(SMFICTX* ctx, connection_context& context) {
  switch (spam_config.tocheck) {
    case ACTION_HEADER:
      context.to_header = 1;
      break;
    case ACTION_EJECT:
      log_line(LOG_NOTICE, "undisclosed recipients: %s, %s -> %s", context.client_name,
               context.mail_from, context.rcpt_to);
      (void)smfi_setreply(ctx, undisclosed_code, undisclosed_xcode, undisclosed_text);
      return SMFIS_REJECT;
    case ACTION_QUARANTINE:
      context.to_quarantine = 1;
      break;
    case ACTION_OFF:
      break;
  }
  return SMFIS_CONTINUE;
}

}  // namespace

sfsistat teslo_header(SMFICTX* ctx, char* name, char* value) {
  return guard_callback("teslo_header", [&] {
    connection_context* context = context_of(ctx);
    if (context == nullptr) return SMFIS_TEMPFAIL;
    if (name == nullptr) return SMFIS_CONTINUE;
    if (value == nullptr) value = const_cast<char*>("");
    if (strcasecmp(name, "Subject") == 0 && spam_config.tagsubject != 0 && context->subject == nullptr) {
      context->subject = teslo_strdup(value);  // null when out of memory: a later Subject is taken
    }
    if (strcasecmp(name, "To") == 0) {
      if (undisclosed(value)) return act_on_undisclosed(ctx, *context);
      context->to_seen = 1;
    }
    if (strcasecmp(name, "CC") == 0) context->cc_seen = 1;
    return SMFIS_CONTINUE;
  });
}

sfsistat teslo_eoh(SMFICTX* ctx) {
  return guard_callback("teslo_eoh", [&] {
    connection_context* context = context_of(ctx);
    if (context == nullptr) return SMFIS_TEMPFAIL;
    if (context->to_seen == 0 && context->cc_seen == 0) {
      log_line(LOG_NOTICE, "To: and CC: are not filled: %s, %s -> %s", context->client_name,
               context->mail_from, context->rcpt_to);
      raise_flag(spam_config.tocheck, context->to_header, context->to_eject, context->to_quarantine);
    }
    std::memset(context->body_line, 0, sizeof context->body_line);
    context->body_line_len = 0;
    return SMFIS_CONTINUE;
  });
}
