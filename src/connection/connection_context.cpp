#include "connection/connection_context.hpp"

void take_dns_answers(connection_context& context) {
  if (context.message == nullptr || !context.message->dns) return;
  context.message->dns->take(context);
}

void release_context(connection_context* context) {
  if (context == nullptr) return;
  std::free(context->subject);
  delete context->message;
  delete context->settings;
  std::free(context);
}
