// The process-wide spam-check settings: the instance, its defaults and its
// release. Start-up (main thread) sets and loads it; shutdown frees it.
#include "spamconfig/spam_config.hpp"

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <syslog.h>

#include "spamconfig/builtin_patterns.hpp"
#include "common/alloc_seam.hpp"

spam_config_record spam_config;

// Spamhaus ZEN: the widely used combined public blocklist; it answers both
// reversed-octet IPv4 and reversed-nibble IPv6 queries, and reports refused
// or over-quota queries with 127.255.255.x answers, which the lookup does
// not take as listings.
const char* const default_dnsbl_domain = "zen.spamhaus.org";

namespace {

// Replaces an owned text with a fresh copy of `value`; the old copy is freed.
// If the copy cannot be made the old text stays.
void replace_text(char*& field, const char* value) {
  char* copy = teslo_strdup(value);
  if (copy == nullptr) return;
  std::free(field);
  field = copy;
}

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

void set_spam_config_defaults() {
  replace_text(spam_config.tag, "[SPAM]");
  replace_text(spam_config.quarantinebox, "postmaster");
  replace_text(spam_config.dnsbl_domain, default_dnsbl_domain);
  replace_text(spam_config.user, "lomb");
  replace_text(spam_config.socket, "unix:/var/lomb/lomb-vesk.sock");
  spam_config.disposition_pattern = default_disposition_pattern_text;
  spam_config.refusefail = 1;
  spam_config.tagsubject = 1;
  spam_config.addheader = 1;
  spam_config.quarantine = 0;
  spam_config.syslog_facility = LOG_MAIL;
  spam_config.helocheck = ACTION_OFF;
  spam_config.tocheck = ACTION_OFF;
  spam_config.ddns = ACTION_OFF;
  spam_config.disposition = ACTION_OFF;
  spam_config.dnsblserv = ACTION_OFF;
  spam_config.spf = ACTION_OFF;
  spam_config.ttl = 36000;
  std::free(spam_config.socketgroup);
  spam_config.socketgroup = nullptr;
}

void free_spam_config() {
  for (char** text : {&spam_config.tag, &spam_config.quarantinebox, &spam_config.dnsbl_domain,
                      &spam_config.user, &spam_config.socket, &spam_config.socketgroup}) {
    std::free(*text);
    *text = nullptr;
  }
  free_ip_list(spam_config.whitelistip);
  free_ip_list(spam_config.blacklistip);
  free_pattern_list(spam_config.whitelistptr);
  free_pattern_list(spam_config.blacklistptr);
  free_pattern_list(spam_config.whitelistfrom);
  free_pattern_list(spam_config.whitelistto);
}
