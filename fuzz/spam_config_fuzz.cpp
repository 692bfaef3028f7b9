// Fuzzes the spam-check file loader with arbitrary file contents, then runs
// the three list queries over whatever lists it built and frees them, so a
// malformed entry that the loader let through shows up where it is used.
// Also feeds the input to parse_time_value as one text.
#include <arpa/inet.h>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.hpp"
#include "spamconfig/builtin_patterns.hpp"
#include "spamconfig/config_loader.hpp"
#include "spamconfig/list_queries.hpp"
#include "spamconfig/config_loader.hpp"
#include "spamconfig/spam_config.hpp"

namespace {

std::string config_path;

void check_action_range(check_action action) {
  if (action < ACTION_OFF || action > ACTION_QUARANTINE) std::abort();
}

void check_loaded_record(const spam_config_record& spam_config) {
  for (check_action action : {spam_config.helocheck, spam_config.tocheck, spam_config.ddns,
                              spam_config.disposition, spam_config.dnsblserv, spam_config.spf}) {
    check_action_range(action);
  }
  // Owned texts are never lost: every default is replaced, not cleared.
  if (spam_config.tag == nullptr || spam_config.dnsbl_domain == nullptr) std::abort();
  for (const ip_mask_entry* entry : {spam_config.whitelistip, spam_config.blacklistip}) {
    for (; entry != nullptr; entry = entry->next) {
      if (entry->prefix > 32) std::abort();
    }
  }
  for (const pattern_entry* list : {spam_config.whitelistptr, spam_config.blacklistptr,
                                    spam_config.whitelistfrom, spam_config.whitelistto}) {
    for (const pattern_entry* entry = list; entry != nullptr; entry = entry->next) {
      if (entry->text == nullptr || entry->text[0] == '\0') std::abort();
    }
  }
}

void query_lists(const spam_config_record& spam_config) {
  const uint32_t addresses[] = {inet_addr("192.0.2.7"), inet_addr("10.1.2.3"), 0, 0xffffffffu};
  for (uint32_t address : addresses) {
    (void)ip_list_match(spam_config.whitelistip, spam_config.whitelistip_index, address);
    (void)ip_list_match(spam_config.blacklistip, spam_config.blacklistip_index, address);
  }
  for (const char* name : {"", "mail.example.test", "x", "A.VERY.LONG.NAME.EXAMPLE.ORG"}) {
    (void)name_suffix_match(spam_config.whitelistptr, spam_config.whitelistptr_index, name);
    (void)name_suffix_match(spam_config.blacklistptr, spam_config.blacklistptr_index, name);
    (void)address_substring_match(spam_config.whitelistfrom, spam_config.whitelistfrom_index, name);
    (void)address_substring_match(spam_config.whitelistto, spam_config.whitelistto_index, name);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_logs();
  compile_builtin_patterns();
  config_path = fuzz::work_path("orvane.conf");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  fuzz::write_file(config_path, input);
  spam_config_load loaded = load_spam_config(config_path.c_str());
  if (!loaded.file_read) std::abort();
  check_loaded_record(*loaded.settings);
  query_lists(*loaded.settings);

  std::string text(input);
  (void)parse_time_value(text.c_str());
  return 0;
}
