// teslo_connect: creates the connection's context.
#include <cstdlib>
#include <syslog.h>

#include "common/callback_guard.hpp"
#include "common/text.hpp"
#include "daemon/callbacks.hpp"
#include "message/connection_context.hpp"

sfsistat teslo_connect(SMFICTX* ctx, char* hostname, _SOCK_ADDR* hostaddr) {
  (void)hostaddr;
  auto* context = static_cast<connection_context*>(std::calloc(1, sizeof(connection_context)));
  if (context == nullptr) return SMFIS_TEMPFAIL;
  copy_bounded(context->client_name, hostname);
  copy_bounded(context->helo_name, "unknown");
  if (smfi_setpriv(ctx, context) != MI_SUCCESS) {
    log_line(LOG_CRIT, "smfi_setpriv failed");
    std::free(context);
    return SMFIS_TEMPFAIL;
  }
  return SMFIS_CONTINUE;
}
