// One version of the spam-check settings: its defaults, its compiled
// pattern and its release.
#include "spamconfig/spam_config.hpp"

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <syslog.h>

#include "spamconfig/builtin_patterns.hpp"
#include "spamconfig/harmful_extensions.hpp"
#include "spamconfig/list_indexes.hpp"
#include "common/alloc_seam.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"

// Spamhaus ZEN: the widely used combined public blocklist; it answers both
// reversed-octet IPv4 and reversed-nibble IPv6 queries, and reports refused
// or over-quota queries with 127.255.255.x answers, which the lookup does
// not take as listings.
const char* const default_dnsbl_domain = "zen.spamhaus.org";

namespace {

void free_ip_list(ip_mask_entry*& list) {
  while (list != nullptr) {
    ip_mask_entry* next = list->next;
    std::free(list);
    list = next;
  }
}

void free_pattern_list(pattern_entry*& list) {
  while (list != nullptr) {
    pattern_entry* next = list->next;
    std::free(list->text);
    std::free(list);
    list = next;
  }
}

}  // namespace

void set_spam_config_defaults(spam_config_record& config) {
  (void)replace_text(config.tag, "[SPAM]");
  (void)replace_text(config.quarantinebox, "postmaster");
  (void)replace_text(config.dnsbl_domain, default_dnsbl_domain);
  (void)replace_text(config.user, names::filter_user);
  (void)replace_text(config.socket, "unix:/var/lomb/lomb-vesk.sock");
  (void)replace_text(config.harmfulext, default_harmful_extensions);
  config.disposition_pattern = default_disposition_pattern_text;
  config.refusefail = 1;
  config.tagsubject = 1;
  config.addheader = 1;
  config.quarantine = 0;
  config.syslog_facility = LOG_MAIL;
  config.helocheck = ACTION_OFF;
  config.tocheck = ACTION_OFF;
  config.ddns = ACTION_OFF;
  config.disposition = ACTION_OFF;
  config.dnsblserv = ACTION_OFF;
  config.spf = ACTION_OFF;
  config.ttl = 36000;
  config.spfcachesize = default_spf_cache_size;
  config.spftimeout = default_spf_timeout;
  std::free(config.socketgroup);
  config.socketgroup = nullptr;
  std::free(config.metricsfile);
  config.metricsfile = nullptr;
}

void compile_disposition_pattern(spam_config_record& config) {
  if (config.disposition_compiled != 0) regfree(&config.disposition_regex);
  const char* text = config.disposition_pattern != nullptr ? config.disposition_pattern
                                                           : default_disposition_pattern_text;
  config.disposition_compiled = compile_pattern(config.disposition_regex, text) ? 1 : 0;
}

void free_spam_config(spam_config_record& config) {
  for (char** text :
       {&config.tag, &config.quarantinebox, &config.dnsbl_domain, &config.user, &config.socket,
        &config.socketgroup, &config.metricsfile, &config.harmfulext}) {
    std::free(*text);
    *text = nullptr;
  }
  free_list_indexes(config);
  free_ip_list(config.whitelistip);
  free_ip_list(config.blacklistip);
  free_pattern_list(config.whitelistptr);
  free_pattern_list(config.blacklistptr);
  free_pattern_list(config.whitelistfrom);
  free_pattern_list(config.whitelistto);
  if (config.disposition_compiled != 0) regfree(&config.disposition_regex);
  config.disposition_compiled = 0;
}
