// teslo_helo: records the HELO/EHLO argument of the connection.
//
// Called on the connection's worker thread; checks nothing (the malformed
// HELO check runs at MAIL FROM). A later HELO replaces the name. Logs nothing.
#include "common/callback_guard.hpp"
#include "common/text.hpp"
#include "daemon/callbacks.hpp"
#include "message/connection_context.hpp"

sfsistat teslo_helo(SMFICTX* ctx, char* helohost) {
  return guard_callback("helo", [&] {
    auto* context = static_cast<connection_context*>(smfi_getpriv(ctx));
    if (context != nullptr && helohost != nullptr) copy_bounded(context->helo_name, helohost);
    return SMFIS_CONTINUE;
  });
}
