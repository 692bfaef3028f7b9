// The built-in regular expressions and their one-time compilation.
#include "spamconfig/builtin_patterns.hpp"

#include <mutex>

const char* const address_pattern_text = "^[0-9]{1,3}[.][0-9]{1,3}[.][0-9]{1,3}[.][0-9]{1,3}$";
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

namespace {

constexpr int pattern_flags = REG_EXTENDED | REG_ICASE;

std::once_flag builtin_once;

void compile(regex_t& pattern, const char* text) { (void)compile_pattern(pattern, text); }

}  // namespace

bool compile_pattern(regex_t& pattern, const char* text) {
  return regcomp(&pattern, text, pattern_flags) == 0;
}

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

bool pattern_matches(const regex_t& pattern, const char* text) {
  return regexec(&pattern, text != nullptr ? text : "", 0, nullptr, 0) == 0;
}
