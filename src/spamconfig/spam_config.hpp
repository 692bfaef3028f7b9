// One version of the spam-check settings and their lists.
//
// A record is filled by load_spam_config (spamconfig/config_loader.hpp) on
// one thread, then published whole as an immutable snapshot
// (spamconfig/spam_settings.hpp); from then on every thread only reads it,
// without a lock. free_spam_config releases what it owns once its last user
// has let go of it.
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
  uint32_t address;  // IPv4, network byte order (as inet_addr returns it)
  uint16_t prefix;   // 0 to 32
  ip_mask_entry* next;
};

struct pattern_entry {
  char* text;  // owned, never empty
  pattern_entry* next;
};

// Lookup structures over the lists (list_indexes.hpp); opaque here.
class ip_prefix_index;
class name_suffix_index;
class substring_automaton;

struct spam_config_record {
  char* tag;                        // subject tag, "[SPAM]"
  char* quarantinebox;              // stored only
  char* dnsbl_domain;               // blocklist zone ("dnsbldou")
  char* user;                       // the filter process's account, names::filter_user
  char* socket;                     // stored only
  const char* disposition_pattern;  // built-in attachment pattern, not owned
  regex_t disposition_regex;        // disposition_pattern compiled (loader)
  int32_t disposition_compiled;     // 1 when disposition_regex holds a compiled pattern
  ip_mask_entry* whitelistip;
  ip_mask_entry* blacklistip;
  pattern_entry* whitelistptr;
  pattern_entry* blacklistptr;
  pattern_entry* whitelistfrom;  // lower-case
  pattern_entry* whitelistto;    // lower-case
  int32_t refusefail;            // 0/1, default 1
  int32_t tagsubject;            // 0/1, default 1
  int32_t addheader;             // stored only
  int32_t quarantine;            // stored only
  int32_t syslog_facility;       // stored only, default LOG_MAIL
  check_action helocheck;
  check_action tocheck;
  check_action ddns;
  check_action disposition;
  check_action dnsblserv;
  check_action spf;
  int32_t ttl;           // SPF cache seconds; 0 = no cache
  int32_t spfcachesize;  // SPF cache entries at most, 1 or more
  int32_t spftimeout;    // seconds one SPF evaluation may take, 1 to 300
  char* socketgroup;     // group given the filter socket (mode 0660)
                         // at start-up; null: root only, 0600
  // One lookup structure per list, built by build_list_indexes once the
  // record is complete and owned by it. Null for an empty list, in a record
  // made by hand, or when memory was short: the queries then walk the list.
  const ip_prefix_index* whitelistip_index;
  const ip_prefix_index* blacklistip_index;
  const name_suffix_index* whitelistptr_index;
  const name_suffix_index* blacklistptr_index;
  const substring_automaton* whitelistfrom_index;
  const substring_automaton* whitelistto_index;
  char* metricsfile;  // metrics file written from start-up on; null: no
                      // metrics
  char* harmfulext;   // harmful attachment extensions ("harmfulext"): lower
                      // case, no dots, single spaces (harmful_extensions.hpp)
};
static_assert(std::is_trivial_v<spam_config_record>);

// The blocklist zone asked when the file names none ("dnsbldou").
extern const char* const default_dnsbl_domain;

// The SPF cache bound when the file gives none ("spfcachesize"): at about
// 90 bytes an entry, some 90 MB when full; ten hours of a site that sees
// some 28 new client and domain pairs a second.
constexpr int32_t default_spf_cache_size = 1000000;

// The time one SPF evaluation may take when the file gives none
// ("spftimeout"): RFC 7208's advice of at least 20 seconds.
constexpr int32_t default_spf_timeout = 20;
constexpr int32_t max_spf_timeout = 300;

// Sets every default of `config`: fresh heap copies of the five owned texts
// and of the default harmful extensions (an earlier copy is freed first), no
// socket group, no metrics file, the built-in disposition pattern; empty
// lists stay as they are. Called by
// load_spam_config.
void set_spam_config_defaults(spam_config_record& config);

// Compiles config.disposition_pattern (the built-in one when unset) into
// config.disposition_regex, replacing an earlier compilation.
void compile_disposition_pattern(spam_config_record& config);

// Frees the owned texts (socketgroup, metricsfile and harmfulext included), all six
// lists (entry texts included) and their lookup structures, and the compiled
// pattern, and leaves null pointers behind.
void free_spam_config(spam_config_record& config);
