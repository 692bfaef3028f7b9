// teslo_helo: records the HELO/EHLO argument.
#include "common/text.hpp"
#include "daemon/callbacks.hpp"
#include "message/connection_context.hpp"

sfsistat teslo_helo(SMFICTX* ctx, char* helohost) {
  auto* context = static_cast<connection_context*>(smfi_getpriv(ctx));
  if (context != nullptr) copy_bounded(context->helo_name, helohost);
  return SMFIS_CONTINUE;
}
