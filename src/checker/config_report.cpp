#include "checker/config_report.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "checker/report_text.hpp"
#include "common/error_text.hpp"
#include "spamconfig/spam_config.hpp"

namespace {

const char* action_word(check_action action) {
  switch (action) {
    case ACTION_OFF: return "off";
    case ACTION_HEADER: return "header";
    case ACTION_EJECT: return "eject";
    case ACTION_QUARANTINE: return "quarantine";
  }
  return "?";
}

const char* on_off(int32_t value) { return value != 0 ? "on" : "off"; }

template <typename Entry>
std::size_t length(const Entry* list) {
  std::size_t n = 0;
  for (; list != nullptr; list = list->next) ++n;
  return n;
}

// What teslo would run with after reading the file.
void write_settings(std::ostream& out, const spam_config_record& c) {
  out << "  checks: helocheck " << action_word(c.helocheck) << ", tocheck "
      << action_word(c.tocheck) << ", spf " << action_word(c.spf) << ", ddns "
      << action_word(c.ddns) << ", disposition " << action_word(c.disposition) << ", dnsblserv "
      << action_word(c.dnsblserv) << "\n";
  out << "  dnsbldou " << quoted(c.dnsbl_domain) << ", ttl " << c.ttl << " seconds"
      << (c.ttl == 0 ? " (no SPF cache)" : "") << ", spfcachesize " << c.spfcachesize
      << ", spftimeout " << c.spftimeout << ", refusefail " << on_off(c.refusefail) << ", tag "
      << quoted(c.tag) << ", tagsubject " << on_off(c.tagsubject) << "\n";
  out << "  lists: whitelistip " << length(c.whitelistip) << ", blacklistip "
      << length(c.blacklistip) << ", whitelistptr " << length(c.whitelistptr) << ", blacklistptr "
      << length(c.blacklistptr) << ", whitelistfrom " << length(c.whitelistfrom) << ", whitelistto "
      << length(c.whitelistto) << "\n";
  out << "  harmfulext " << (c.harmfulext != nullptr ? c.harmfulext : "") << "\n";
}

}  // namespace

std::string describe_config_issue(const config_line_report& report) {
  const std::string key = quoted(report.key, 40);
  const std::string value = quoted(report.value, 60);
  switch (report.issue) {
    case config_line_issue::line_too_long:
      return "line longer than 254 characters: everything after character 254 is ignored";
    case config_line_issue::token_cut:
      return "word longer than 127 characters cut at 127: " + report.detail;
    case config_line_issue::missing_value: return "key " + key + " has no value: line ignored";
    case config_line_issue::trailing_text:
      return "text after the value ignored: " + quoted(report.detail, 60);
    case config_line_issue::unknown_key: return "unknown key " + key + ": line ignored";
    case config_line_issue::value_not_accepted:
      return "value " + value + " not accepted for " + report.key + " (" + report.detail +
             "): line ignored";
    case config_line_issue::address_refused:
      return "address entry " + value + " refused for " + report.key + " (" + report.detail +
             "): line ignored";
    case config_line_issue::value_misread: return report.key + " " + value + ": " + report.detail;
  }
  return "unexpected report";
}

check_status check_spam_config_file(const std::string& path, std::ostream& out) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    out << path << ": cannot read: Is a directory\n";
    return check_status::unreadable;
  }
  std::size_t reported = 0;
  auto observer = [&](const config_line_report& report) {
    out << path << ":" << report.line << ": " << describe_config_issue(report) << "\n";
    ++reported;
  };
  spam_config_load loaded = load_spam_config(path.c_str(), observer);
  if (!loaded.file_read) {
    out << path << ": cannot read: " << error_text(loaded.error)
        << " (teslo would run with every default)\n";
    return check_status::unreadable;
  }
  out << path << ": " << counted(reported, "problem", "problems") << "; settings in force:\n";
  write_settings(out, *loaded.settings);
  return reported == 0 ? check_status::clean : check_status::ignored;
}
