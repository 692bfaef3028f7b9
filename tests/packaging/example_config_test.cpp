// The example /etc/mail/orvane/orvane.conf that `cmake --install` and the
// Debian package install: read by the daemon's own loader it must leave every
// setting at its built-in default (the file only documents and restates
// them), and every line must be one the loader reads whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "spamconfig/builtin_patterns.hpp"
#include "spamconfig/config_loader.hpp"
#include "spamconfig/test_settings.hpp"

namespace {

const std::filesystem::path example_file =
    std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "etc" / "orvane" /
    "orvane.conf";

// The settings of spam_config as comparable values.
struct settings {
  std::string tag, quarantinebox, dnsbl_domain, user, socket, disposition_pattern;
  int32_t refusefail, tagsubject, addheader, quarantine, syslog_facility, ttl, spfcachesize;
  check_action helocheck, tocheck, ddns, disposition, dnsblserv, spf;
  bool lists_empty;

  static settings of_spam_config() {
    const spam_config_record& c = spam_config;
    return {c.tag,
            c.quarantinebox,
            c.dnsbl_domain,
            c.user,
            c.socket,
            c.disposition_pattern,
            c.refusefail,
            c.tagsubject,
            c.addheader,
            c.quarantine,
            c.syslog_facility,
            c.ttl,
            c.spfcachesize,
            c.helocheck,
            c.tocheck,
            c.ddns,
            c.disposition,
            c.dnsblserv,
            c.spf,
            c.whitelistip == nullptr && c.blacklistip == nullptr && c.whitelistptr == nullptr &&
                c.blacklistptr == nullptr && c.whitelistfrom == nullptr &&
                c.whitelistto == nullptr};
  }
  bool operator==(const settings&) const = default;
};

void PrintTo(const settings& s, std::ostream* out) {
  *out << "tag=" << s.tag << " quarantinebox=" << s.quarantinebox << " dnsbldou=" << s.dnsbl_domain
       << " user=" << s.user << " socket=" << s.socket << " refusefail=" << s.refusefail
       << " tagsubject=" << s.tagsubject << " addheader=" << s.addheader
       << " quarantine=" << s.quarantine << " syslog=" << s.syslog_facility << " ttl=" << s.ttl
       << " spfcachesize=" << s.spfcachesize << " actions=" << s.helocheck << s.tocheck << s.ddns
       << s.disposition << s.dnsblserv << s.spf << " lists_empty=" << s.lists_empty;
}

}  // namespace

TEST(example_orvane_conf, loads_to_exactly_the_defaults) {
  ASSERT_TRUE(std::filesystem::exists(example_file)) << example_file;
  compile_builtin_patterns();

  free_spam_config(spam_config);
  set_spam_config_defaults(spam_config);
  const settings defaults = settings::of_spam_config();
  free_spam_config(spam_config);

  ASSERT_TRUE(load_test_settings(example_file.c_str()));
  const settings loaded = settings::of_spam_config();
  free_spam_config(spam_config);

  EXPECT_EQ(loaded, defaults);
}

TEST(example_orvane_conf, every_line_fits_the_loader_buffer) {
  std::ifstream in(example_file);
  ASSERT_TRUE(in) << example_file;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    EXPECT_LE(line.size(), 254u) << "line " << number;
  }
}
