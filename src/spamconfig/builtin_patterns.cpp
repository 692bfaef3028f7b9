// The built-in regular expressions and their one-time compilation.
#include "spamconfig/builtin_patterns.hpp"

#include <mutex>

#include "spamconfig/spam_config.hpp"

const char* const address_pattern_text =
    "^[0-9]{1,3}[.][0-9]{1,3}[.][0-9]{1,3}[.][0-9]{1,3}$";
const char* const helo_pattern_text =
    R"re(([0-9]+\.[0-9]+\.[0-9]+|[0-9]+-[0-9]+-[0-9]+|[0-9]{8}|^localhost$))re";
const char* const undisclosed_pattern_text = "(undisclosed-recipient|unlisted-recipient)";
const char* const ddns_pattern_texts[ddns_pattern_count] = {
    R"re(^[^\.]*[0-9][^0-9\.]+[0-9])re",
    R"re(^[^\.]*[0-9]{5})re",
    R"re(^([^\.]+\.)?[0-9][^\.]*\.[^\.]+\..+\.[a-z])re",
    R"re(^[^\.]*[0-9]\.[^\.]*[0-9]-[0-9])re",
    R"re(^(dhcp|dialup|ppp|adsl)[^\.]*[0-9])re",
};
// Two plain quotation marks; the bracket expression holds three spaces.
const char* const default_disposition_pattern_text =
    R"re(^(Content-Disposition:.*;)?[   ]*filename="?.*\.(pif|exe|com|scr|lnk|cpl|vbs|hta|bat)"?$)re";

regex_t address_pattern;
regex_t helo_pattern;
regex_t undisclosed_pattern;
regex_t ddns_patterns[ddns_pattern_count];
regex_t disposition_pattern;

namespace {

constexpr int pattern_flags = REG_EXTENDED | REG_ICASE;

std::once_flag builtin_once;
// Written only on the main thread during start-up (or by a test).
bool disposition_compiled = false;

void compile(regex_t& pattern, const char* text) {
  (void)regcomp(&pattern, text, pattern_flags);
}

}  // namespace

void compile_builtin_patterns() {
  std::call_once(builtin_once, [] {
    compile(address_pattern, address_pattern_text);
    compile(helo_pattern, helo_pattern_text);
    compile(undisclosed_pattern, undisclosed_pattern_text);
    for (int index = 0; index < ddns_pattern_count; ++index) {
      compile(ddns_patterns[index], ddns_pattern_texts[index]);
    }
  });
}

void compile_disposition_pattern() {
  if (disposition_compiled) regfree(&disposition_pattern);
  const char* text = spam_config.disposition_pattern != nullptr
                         ? spam_config.disposition_pattern
                         : default_disposition_pattern_text;
  disposition_compiled = regcomp(&disposition_pattern, text, pattern_flags) == 0;
}

bool pattern_matches(const regex_t& pattern, const char* text) {
  return regexec(&pattern, text != nullptr ? text : "", 0, nullptr, 0) == 0;
}
