// teslo_eom: the end of a message.
//
// libmilter calls it once per message after the last body chunk, on the
// connection's worker thread. It first lets the attachment scan see the end
// of the body (message/attachment_scan.hpp), then takes the answers of the
// message's DNS questions (checks/dns_questions.hpp), whatever they answer.
// The spam phase runs next (eom_actions); a message it refuses ends here
// with SMFIS_REJECT. Every other message goes on to the copying, whose
// status is the callback's result. The message record is left for the next
// MAIL FROM, abort or close to destroy. A queue id that the MTA did not give
// at MAIL FROM is taken from the end of the message.
#include <syslog.h>

#include "checks/dns_questions.hpp"
#include "connection/callback_guard.hpp"
#include "common/log_sink.hpp"
#include "connection/callbacks.hpp"
#include "connection/connection_context.hpp"
#include "connection/context_of.hpp"
#include "message/attachment_scan.hpp"
#include "message/copying.hpp"
#include "message/eom_actions.hpp"
#include "metrics/counters.hpp"

namespace {

// The envelope stage records the queue id "unknown" when the MTA gave none
// at MAIL FROM. Postfix assigns it only once a recipient has been accepted
// and sends macro "i" with the end of the message, so it is read here again
// (for X-TESLO-ID and the quarantine line). Sendmail gives it at MAIL FROM,
// and then nothing changes.
void take_late_queue_id(SMFICTX* ctx, message_record* message) {
  if (message == nullptr || message->queue_id != "unknown") return;
  const char* queue_id = smfi_getsymval(ctx, const_cast<char*>("i"));
  if (queue_id != nullptr && *queue_id != '\0') message->queue_id = queue_id;
}

}  // namespace

sfsistat teslo_eom(SMFICTX* ctx) {
  return guard_callback("teslo_eom", [&] {
    connection_context* context = context_of(ctx);
    if (context == nullptr) return SMFIS_TEMPFAIL;
    count(metric::messages_ended);
    take_late_queue_id(ctx, context->message);
    finish_attachment_scan(*context);
    take_dns_answers(*context);
    if (apply_spam_actions(ctx, *context) == spam_verdict::rejected) return SMFIS_REJECT;
    return copy_phase(ctx, *context);
  });
}
