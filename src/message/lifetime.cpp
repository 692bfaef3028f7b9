// teslo_abort and teslo_close: the end of a message and of a connection.
#include <cstdlib>

#include "common/callback_guard.hpp"
#include "daemon/callbacks.hpp"
#include "message/connection_context.hpp"

sfsistat teslo_abort(SMFICTX* ctx) {
  auto* context = static_cast<connection_context*>(smfi_getpriv(ctx));
  if (context != nullptr) {
    delete context->message;
    context->message = nullptr;
  }
  return SMFIS_ACCEPT;
}

sfsistat teslo_close(SMFICTX* ctx) {
  auto* context = static_cast<connection_context*>(smfi_getpriv(ctx));
  if (context == nullptr) return SMFIS_ACCEPT;
  std::free(context->subject);
  delete context->message;
  std::free(context);
  smfi_setpriv(ctx, nullptr);
  return SMFIS_CONTINUE;
}
