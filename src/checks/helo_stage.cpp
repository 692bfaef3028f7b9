// teslo_helo: records the HELO/EHLO argument of the connection.
//
// Called on the connection's worker thread; checks nothing (the malformed
// HELO check runs at MAIL FROM). A later HELO replaces the name. Logs nothing.
#include "connection/callback_guard.hpp"
#include "common/text.hpp"
#include "connection/callbacks.hpp"
#include "connection/connection_context.hpp"
#include "connection/context_of.hpp"

sfsistat teslo_helo(SMFICTX* ctx, char* helohost) {
  return guard_callback("teslo_helo", [&] {
    connection_context* context = context_of(ctx);
    if (context != nullptr && helohost != nullptr) copy_bounded(context->helo_name, helohost);
    return SMFIS_CONTINUE;
  });
}
