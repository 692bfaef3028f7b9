// teslo_eom: the end of a message.
//
// libmilter calls it once per message after the last body chunk, on the
// connection's worker thread. The spam phase runs first (eom_actions); a
// message it refuses ends here with SMFIS_REJECT. Every other message goes on
// to the copying, whose status is the callback's result. The message record
// is left for the next MAIL FROM, abort or close to destroy.
#include <syslog.h>

#include "common/callback_guard.hpp"
#include "common/log_sink.hpp"
#include "connection/callbacks.hpp"
#include "connection/connection_context.hpp"
#include "connection/context_of.hpp"
#include "message/copying.hpp"
#include "message/eom_actions.hpp"

sfsistat teslo_eom(SMFICTX* ctx) {
  return guard_callback("teslo_eom", [&] {
    connection_context* context = context_of(ctx);
    if (context == nullptr) return SMFIS_TEMPFAIL;
    if (apply_spam_actions(ctx, *context) == spam_verdict::rejected) return SMFIS_REJECT;
    return copy_phase(ctx, *context);
  });
}
