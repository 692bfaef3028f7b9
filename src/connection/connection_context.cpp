#include "connection/connection_context.hpp"

void release_context(connection_context* context) {
  if (context == nullptr) return;
  std::free(context->subject);
  delete context->message;
  delete context->settings;
  std::free(context);
}
