// Whitelist and blacklist queries for the connecting client.
#include "checks/client_lists.hpp"

#include <arpa/inet.h>

#include "spamconfig/list_queries.hpp"
#include "spamconfig/spam_config.hpp"

namespace {

// The address lists are asked with what inet_addr gives for the address
// text: the client's IPv4 address, or all one bits for "undefined".
bool on_ip_list(const ip_mask_entry* list, const ip_prefix_index* index,
                const connection_context& context) {
  if (list == nullptr || context.client_is_ipv6) return false;
  return ip_list_match(list, index, inet_addr(context.client_addr));
}

bool on_name_list(const pattern_entry* list, const name_suffix_index* index,
                  const connection_context& context) {
  return list != nullptr && name_suffix_match(list, index, context.client_name);
}

}  // namespace

bool client_whitelisted(const connection_context& context) {
  const spam_config_record& config = settings_of(context);
  return on_ip_list(config.whitelistip, config.whitelistip_index, context) ||
         on_name_list(config.whitelistptr, config.whitelistptr_index, context);
}

bool client_blacklisted(const connection_context& context) {
  const spam_config_record& config = settings_of(context);
  return on_ip_list(config.blacklistip, config.blacklistip_index, context) ||
         on_name_list(config.blacklistptr, config.blacklistptr_index, context);
}
