// teslo_envfrom: starts a message.
#include "common/callback_guard.hpp"
#include "common/text.hpp"
#include "daemon/callbacks.hpp"
#include "message/connection_context.hpp"

sfsistat teslo_envfrom(SMFICTX* ctx, char** argv) {
  return guard_callback("envfrom", [&] {
    auto* context = static_cast<connection_context*>(smfi_getpriv(ctx));
    if (context == nullptr) return SMFIS_CONTINUE;
    delete context->message;
    context->message = new message_record;
    context->message->sender = argv[0] != nullptr ? argv[0] : "";
    copy_bounded(context->mail_from, argv[0]);
    return SMFIS_CONTINUE;
  });
}
