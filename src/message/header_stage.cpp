// teslo_header and teslo_eoh: the Subject, To and CC headers.
//
// libmilter calls teslo_header once per header and teslo_eoh once after the
// last one, on the connection's worker thread. They keep the first Subject
// (for the subject tag, only while `tagsubject` is on), run the
// undisclosed-recipients check on every To header and, at the end of the
// headers, the To/CC-missing check; both act by the `tocheck` action. The
// only refusal on the spot is an undisclosed-recipients To header under
// "eject" (554 5.7.1). teslo_eoh also empties the body line for the body scan
// and reads the message's MIME header fields (message/attachment_scan.hpp).
//
// Log lines (LOG_NOTICE): "undisclosed recipients: %s, %s -> %s" and
// "To: and CC: are not filled: %s, %s -> %s" (client name, MAIL FROM,
// latest RCPT TO).
#include <cstdlib>
#include <cstring>
#include <syslog.h>

#include "connection/verdicts.hpp"
#include "common/alloc_seam.hpp"
#include "connection/callback_guard.hpp"
#include "common/log_sink.hpp"
#include "common/text.hpp"
#include "connection/callbacks.hpp"
#include "connection/connection_context.hpp"
#include "connection/context_of.hpp"
#include "message/attachment_scan.hpp"
#include "spamconfig/builtin_patterns.hpp"

namespace {

char undisclosed_code[] = "554";
char undisclosed_xcode[] = "5.7.1";
char undisclosed_text[] = "Message for undisclosed recipients";

bool undisclosed(const char* value) {
  return undisclosed_pattern_text[0] != '\0' && pattern_matches(undisclosed_pattern, value);
}

// An undisclosed-recipients To header, by the `tocheck` action.
sfsistat act_on_undisclosed(SMFICTX* ctx, connection_context& context) {
  check_action action = settings_of(context).tocheck;
  if (action != ACTION_EJECT) {
    raise_verdict(context, spam_check::to, action);
    return SMFIS_CONTINUE;
  }
  log_line(LOG_NOTICE, "undisclosed recipients: %s, %s -> %s", context.client_name,
           context.mail_from, context.rcpt_to);
  (void)smfi_setreply(ctx, undisclosed_code, undisclosed_xcode, undisclosed_text);
  count_check_hit(spam_check::to, ACTION_EJECT);
  count(metric::refused_undisclosed_recipients);
  return SMFIS_REJECT;
}

}  // namespace

sfsistat teslo_header(SMFICTX* ctx, char* name, char* value) {
  return guard_callback("teslo_header", [&] {
    connection_context* context = context_of(ctx);
    if (context == nullptr) return SMFIS_TEMPFAIL;
    if (name == nullptr) return SMFIS_CONTINUE;
    if (value == nullptr) value = const_cast<char*>("");
    if (same_text_ignoring_ascii_case(name, "Subject") && settings_of(*context).tagsubject != 0 &&
        context->subject == nullptr) {
      context->subject = teslo_strdup(value);  // null when out of memory: a later Subject is taken
    }
    if (same_text_ignoring_ascii_case(name, "To")) {
      if (undisclosed(value)) return act_on_undisclosed(ctx, *context);
      context->to_seen = 1;
    }
    if (same_text_ignoring_ascii_case(name, "CC")) context->cc_seen = 1;
    note_message_header(*context, name, value);
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
      raise_verdict(*context, spam_check::to, settings_of(*context).tocheck);
    }
    std::memset(context->body_line, 0, sizeof context->body_line);
    context->body_line_len = 0;
    start_attachment_scan(*context);
    return SMFIS_CONTINUE;
  });
}
