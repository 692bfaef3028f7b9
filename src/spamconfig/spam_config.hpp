// The process-wide spam-check settings and their lists.
//
// Written once by load_spam_config on the main thread before libmilter starts
// any worker thread, read-only afterwards (no lock), freed by
// free_spam_config at shutdown after the workers have ended.
#pragma once

#include <cstdint>
#include <regex.h>
#include <type_traits>

enum check_action : int32_t {
  ACTION_OFF = 0,
  ACTION_HEADER = 1,
  ACTION_EJECT = 2,
  ACTION_QUARANTINE = 3,
};

struct ip_mask_entry {
  uint32_t address;      // IPv4, network byte order (as inet_addr returns it)
  uint16_t prefix;       // 0 to 32
  ip_mask_entry* next;
};

struct pattern_entry {
  char* text;            // owned, never empty
  pattern_entry* next;
};

struct spam_config_record {
  char* tag;                        // subject tag, "[SPAM]"
  char* quarantinebox;              // stored only
  char* dnsbl_domain;               // blocklist zone ("dnsbldou")
  char* user;                       // stored only
  char* socket;                     // stored only
  const char* disposition_pattern;  // built-in attachment pattern, not owned
  ip_mask_entry* whitelistip;
  ip_mask_entry* blacklistip;
  pattern_entry* whitelistptr;
  pattern_entry* blacklistptr;
  pattern_entry* whitelistfrom;     // lower-case
  pattern_entry* whitelistto;       // lower-case
  int32_t refusefail;               // 0/1, default 1
  int32_t tagsubject;               // 0/1, default 1
  int32_t addheader;                // stored only
  int32_t quarantine;               // stored only
  int32_t syslog_facility;          // stored only, default LOG_MAIL
  check_action helocheck;
  check_action tocheck;
  check_action ddns;
  check_action disposition;
  check_action dnsblserv;
  check_action spf;
  int32_t ttl;                      // SPF cache seconds; 0 = no cache
  char* socketgroup;                // group given the filter socket (mode 0660)
                                    // at start-up; null: root only, 0600
};
static_assert(std::is_trivial_v<spam_config_record>);

// The one instance. Zero-filled at process start.
extern spam_config_record spam_config;

// The blocklist zone asked when the file names none ("dnsbldou").
extern const char* const default_dnsbl_domain;

// Sets every default of the record: fresh heap copies of the five owned
// texts (an earlier copy is freed first), no socket group, the built-in
// disposition pattern; empty lists stay as they are. Called by
// load_spam_config.
void set_spam_config_defaults();

// Frees the owned texts (socketgroup included) and all six lists (entry texts included) and
// leaves null pointers behind. Shutdown calls it after the workers ended.
void free_spam_config();
