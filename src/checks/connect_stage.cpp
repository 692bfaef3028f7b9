// teslo_connect: the start of every SMTP connection.
//
// libmilter calls it on a worker thread once per connection, before any
// other callback of that connection. It creates the connection_context,
// takes the snapshot of the spam-check settings that the connection keeps
// until close, records the client (IPv4, IPv4-mapped IPv6 taken as IPv4, or IPv6), marks
// whitelisted clients exempt, refuses blacklisted ones at once (no reply
// text: the MTA's own rejection, nothing logged) and raises the DDNS flag
// for host names that look dynamically assigned. Reads only its settings
// snapshot and the compiled patterns; takes no lock but the brief one that
// hands out the snapshot.
// Log lines: "allocate ERROR %s" (LOG_ERR), "smfi_setpriv failed!" (LOG_CRIT).
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <new>
#include <syslog.h>

#include "checks/client_lists.hpp"
#include "common/error_text.hpp"
#include "connection/verdicts.hpp"
#include "common/alloc_seam.hpp"
#include "connection/callback_guard.hpp"
#include "common/text.hpp"
#include "connection/callbacks.hpp"
#include "connection/connection_context.hpp"
#include "spamconfig/builtin_patterns.hpp"
#include "spamconfig/spam_settings.hpp"

namespace {

void record_ipv4(connection_context& context, const in_addr& address) {
  char text[64];
  context.client_ip = address.s_addr;
  if (inet_ntop(AF_INET, &address, text, sizeof text) != nullptr) {
    copy_bounded(context.client_addr, text);
  }
}

// Fills client_ip, client_addr and the IPv6 fields from the socket address.
// Without an address (or with one of another family) the client is
// "undefined" at 127.0.0.1.
void record_client_address(connection_context& context, const sockaddr* address) {
  copy_bounded(context.client_addr, "undefined");
  context.client_ip = htonl(INADDR_LOOPBACK);
  if (address == nullptr) return;
  if (address->sa_family == AF_INET) {
    record_ipv4(context, reinterpret_cast<const sockaddr_in*>(address)->sin_addr);
    return;
  }
  if (address->sa_family != AF_INET6) return;
  const in6_addr& v6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
  if (IN6_IS_ADDR_V4MAPPED(&v6)) {
    in_addr v4;
    std::memcpy(&v4.s_addr, &v6.s6_addr[12], sizeof v4.s_addr);
    record_ipv4(context, v4);
    return;
  }
  char text[64];
  if (inet_ntop(AF_INET6, &v6, text, sizeof text) == nullptr) return;
  context.client_ip = 0;
  context.client_is_ipv6 = 1;
  std::memcpy(context.client_ipv6, v6.s6_addr, sizeof context.client_ipv6);
  copy_bounded(context.client_addr, text);
}

// The DDNS patterns look for numbers inside host names. An IPv6 address
// literal ("[IPv6:2001:db8::25]", what the MTA reports for a client without a
// PTR name) would always match, so it is not a host name to judge; an IPv4
// literal is tried unchanged.
bool is_ipv6_literal(const char* name) {
  return name[0] == '[' && std::strchr(name, ':') != nullptr;
}

bool looks_dynamic(const char* name) {
  if (is_ipv6_literal(name)) return false;
  for (int index = 0; index < ddns_pattern_count; ++index) {
    if (ddns_pattern_texts[index][0] == '\0') continue;
    if (pattern_matches(ddns_patterns[index], name)) return true;
  }
  return false;
}

sfsistat connect_client(SMFICTX* ctx, const char* hostname, const sockaddr* address) {
  count(metric::connections);
  auto* context = static_cast<connection_context*>(teslo_calloc(1, sizeof(connection_context)));
  if (context != nullptr) {
    context->settings = new (std::nothrow) spam_settings(current_spam_settings());
    if (context->settings == nullptr) {
      release_context(context);
      context = nullptr;
      errno = ENOMEM;
    }
  }
  if (context == nullptr) {
    log_line(LOG_ERR, "allocate ERROR %s", error_text(errno));
    return SMFIS_ACCEPT;
  }
  const spam_config_record& config = settings_of(*context);
  record_client_address(*context, address);
  copy_bounded(context->client_name, hostname);

  // A whitelisted client is still refused when it is also blacklisted.
  context->client_exempt = client_whitelisted(*context) ? 1 : 0;
  if (client_blacklisted(*context)) {
    release_context(context);
    count(metric::refused_blacklisted_client);
    return SMFIS_REJECT;
  }
  if (config.ddns != ACTION_OFF && looks_dynamic(context->client_name)) {
    raise_verdict(*context, spam_check::ddns, config.ddns);
  }
  context->message = nullptr;
  copy_bounded(context->helo_name, "unknown");
  if (smfi_setpriv(ctx, context) != MI_SUCCESS) {
    log_line(LOG_CRIT, "smfi_setpriv failed!");
    release_context(context);
    return SMFIS_TEMPFAIL;
  }
  return SMFIS_CONTINUE;
}

}  // namespace

sfsistat teslo_connect(SMFICTX* ctx, char* hostname, _SOCK_ADDR* hostaddr) {
  return guard_callback("teslo_connect", [&] { return connect_client(ctx, hostname, hostaddr); });
}
