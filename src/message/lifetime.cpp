// teslo_abort and teslo_close: the end of a message and of a connection.
//
// Neither logs a missing context: close without a connect that attached one
// is an ordinary call order. Close drops the connection's settings snapshot
// with the rest of the context.
#include "connection/callback_guard.hpp"
#include "connection/callbacks.hpp"
#include "connection/connection_context.hpp"
#include "metrics/counters.hpp"

sfsistat teslo_abort(SMFICTX* ctx) {
  auto* context = static_cast<connection_context*>(smfi_getpriv(ctx));
  if (context != nullptr && context->message != nullptr) {
    count(metric::messages_aborted);
    delete context->message;
    context->message = nullptr;
  }
  return SMFIS_ACCEPT;
}

sfsistat teslo_close(SMFICTX* ctx) {
  auto* context = static_cast<connection_context*>(smfi_getpriv(ctx));
  if (context == nullptr) return SMFIS_ACCEPT;
  release_context(context);
  smfi_setpriv(ctx, nullptr);
  return SMFIS_CONTINUE;
}
