#include "connection/context_of.hpp"

#include <syslog.h>

#include "common/log_sink.hpp"

connection_context* context_of(SMFICTX* ctx) {
  auto* context = static_cast<connection_context*>(smfi_getpriv(ctx));
  if (context == nullptr) log_line(LOG_CRIT, "smfi_getpriv failed!");
  return context;
}
