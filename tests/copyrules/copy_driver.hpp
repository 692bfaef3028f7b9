// Test helper: a minimal filter table that records the envelope the way the
// real stages do and runs only the copy phase at end of message, so the copy
// rules can be tested through the fake libmilter without the spam checks.
#pragma once

#include <libmilter/mfapi.h>

#include <cstdlib>
#include <string>

#include "connection/connection_context.hpp"
#include "message/copying.hpp"

namespace copy_driver {

// The table the end of message applies; null means the table in force.
// Set by the test thread before sessions start.
inline const copy_rule_table* rules_under_test = nullptr;

inline connection_context* context_of(SMFICTX* ctx) {
  return static_cast<connection_context*>(smfi_getpriv(ctx));
}

inline sfsistat on_connect(SMFICTX* ctx, char*, _SOCK_ADDR*) {
  smfi_setpriv(ctx, std::calloc(1, sizeof(connection_context)));
  return SMFIS_CONTINUE;
}

inline sfsistat on_envfrom(SMFICTX* ctx, char** argv) {
  connection_context* context = context_of(ctx);
  delete context->message;
  context->message = new message_record;
  context->message->sender = argv[0];
  const char* queue_id = smfi_getsymval(ctx, const_cast<char*>("i"));
  context->message->queue_id = queue_id != nullptr ? queue_id : "unknown";
  return SMFIS_CONTINUE;
}

inline sfsistat on_envrcpt(SMFICTX* ctx, char** argv) {
  std::string address = argv[0];
  if (address.starts_with('<') && address.ends_with('>')) {
    address = address.substr(1, address.size() - 2);
  }
  context_of(ctx)->message->recipients.push_back(address);
  return SMFIS_CONTINUE;
}

inline sfsistat on_eom(SMFICTX* ctx) {
  if (rules_under_test != nullptr) return copy_phase(ctx, *context_of(ctx), *rules_under_test);
  return copy_phase(ctx, *context_of(ctx));
}

inline sfsistat on_close(SMFICTX* ctx) {
  connection_context* context = context_of(ctx);
  if (context != nullptr) {
    delete context->message;
    std::free(context);
  }
  smfi_setpriv(ctx, nullptr);
  return SMFIS_CONTINUE;
}

inline smfiDesc table() {
  smfiDesc description{};
  description.xxfi_name = const_cast<char*>("copy-driver");
  description.xxfi_version = SMFI_VERSION;
  description.xxfi_connect = on_connect;
  description.xxfi_envfrom = on_envfrom;
  description.xxfi_envrcpt = on_envrcpt;
  description.xxfi_eom = on_eom;
  description.xxfi_close = on_close;
  return description;
}

}  // namespace copy_driver
