// Reads the spam-check key/value file into a new settings record.
//
// One directive per line: "key value", anything after the value ignored,
// "#" starts a comment. Keys and action words ignore case. Physical lines
// longer than the 254-character line buffer are taken up to that length and
// the rest of the line is skipped, so the tail of a long line can never turn
// into a directive of its own. An optional observer hears of every line,
// or part of one, that is skipped, with the reason.
#include "spamconfig/config_loader.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <syslog.h>
#include <utility>

#include "common/text.hpp"
#include "common/alloc_seam.hpp"
#include "spamconfig/builtin_patterns.hpp"
#include "spamconfig/harmful_extensions.hpp"
#include "spamconfig/list_indexes.hpp"
#include "spamconfig/spam_config.hpp"
#include "spamconfig/spam_settings.hpp"

namespace {

struct file_closer {
  void operator()(FILE* file) const { (void)std::fclose(file); }
};
using file_handle = std::unique_ptr<FILE, file_closer>;

constexpr std::size_t line_buffer_size = 255;

struct facility_name {
  const char* name;
  int32_t value;
};

constexpr facility_name facility_table[] = {
    {"daemon", LOG_DAEMON}, {"mail", LOG_MAIL},     {"local0", LOG_LOCAL0}, {"local1", LOG_LOCAL1},
    {"local2", LOG_LOCAL2}, {"local3", LOG_LOCAL3}, {"local4", LOG_LOCAL4}, {"local5", LOG_LOCAL5},
    {"local6", LOG_LOCAL6}, {"local7", LOG_LOCAL7},
};

struct action_name {
  const char* name;
  check_action value;
};

constexpr action_name action_words[] = {
    {"off", ACTION_OFF},
    {"header", ACTION_HEADER},
    {"eject", ACTION_EJECT},
    {"quarantine", ACTION_QUARANTINE},
};

// The line being applied and whoever wants to hear about what it lost.
struct line_context {
  spam_config_record& config;
  unsigned number;
  const config_line_observer& observer;
  const char* key;
  const char* value;

  void report(config_line_issue issue, std::string detail = {}) const {
    if (observer) observer({number, issue, key, value, std::move(detail)});
  }
};

bool same_word(const char* left, const char* right) {
  return same_text_ignoring_ascii_case(left, right);
}

bool all_digits(const char* text) {
  if (*text == '\0') return false;
  for (; *text != '\0'; ++text) {
    if (!is_ascii_digit(*text)) return false;
  }
  return true;
}

// Reads the number after "/" of an address entry: leading decimal digits,
// 0 when there are none. Anything outside 0 to 32 (negative or too large)
// becomes 32, the single-address prefix.
uint16_t parse_prefix(const char* text) {
  long value = std::strtol(text, nullptr, 10);  // saturates instead of overflowing
  if (value < 0 || value > 32) return 32;
  return static_cast<uint16_t>(value);
}

void add_address_entry(ip_mask_entry*& list, const char* value, const line_context& line) {
  char address_text[128];
  copy_bounded(address_text, value);
  uint16_t prefix = 32;
  const char* prefix_text = nullptr;
  if (char* slash = std::strchr(address_text, '/'); slash != nullptr) {
    *slash = '\0';
    prefix_text = slash + 1;
    prefix = parse_prefix(prefix_text);
  }
  if (address_text[0] == '\0') {
    line.report(config_line_issue::address_refused, "no address before the \"/\"");
    return;
  }
  if (!pattern_matches(address_pattern, address_text)) {
    line.report(config_line_issue::address_refused, "not a dotted IPv4 address");
    return;
  }
  in_addr_t address = inet_addr(address_text);
  if (address == INADDR_NONE) {
    line.report(config_line_issue::address_refused,
                "a part above 255, or the broadcast address 255.255.255.255");
    return;
  }
  auto* entry = static_cast<ip_mask_entry*>(teslo_calloc(1, sizeof(ip_mask_entry)));
  if (entry == nullptr) {
    line.report(config_line_issue::address_refused, "out of memory");
    return;
  }
  entry->address = address;
  entry->prefix = prefix;
  entry->next = list;
  list = entry;
  if (prefix_text != nullptr && (!all_digits(prefix_text) || std::strlen(prefix_text) > 2 ||
                                 std::strtol(prefix_text, nullptr, 10) > 32)) {
    line.report(config_line_issue::value_misread,
                "prefix \"/" + std::string(prefix_text) + "\" is read as /" +
                    std::to_string(prefix) + (prefix == 0 ? ", which matches every address" : ""));
  }
}

void add_pattern_entry(pattern_entry*& list, const char* value, bool lower_case,
                       const line_context& line) {
  auto* entry = static_cast<pattern_entry*>(teslo_calloc(1, sizeof(pattern_entry)));
  if (entry == nullptr) {
    line.report(config_line_issue::value_not_accepted, "out of memory");
    return;
  }
  entry->text = teslo_strdup(value);
  if (entry->text == nullptr) {
    std::free(entry);
    line.report(config_line_issue::value_not_accepted, "out of memory");
    return;
  }
  if (lower_case) lower_ascii(entry->text);
  entry->next = list;
  list = entry;
}

void set_action(check_action& field, const char* value, const line_context& line) {
  for (const auto& word : action_words) {
    if (same_word(value, word.name)) {
      field = word.value;
      return;
    }
  }
  line.report(config_line_issue::value_not_accepted, "accepted: off, header, eject or quarantine");
}

void set_facility(const char* value, const line_context& line) {
  for (const auto& facility : facility_table) {
    if (same_word(value, facility.name)) {
      line.config.syslog_facility = facility.value;
      return;
    }
  }
  line.report(config_line_issue::value_not_accepted, "accepted: daemon, mail or local0 to local7");
}

// A time value that parse_time_value reads as written: digits, then at most
// one unit letter (s for seconds is tolerated, as documented).
void check_time_value(const char* value, const line_context& line) {
  const char* digits = value[0] == '-' ? value + 1 : value;
  std::string number(digits);
  if (!number.empty() && std::strchr("dDhHmMsS", number.back()) != nullptr) number.pop_back();
  if (all_digits(number.c_str()) && number.size() <= 9) return;
  line.report(config_line_issue::value_misread,
              "read as " + std::to_string(parse_time_value(value)) + " seconds");
}

// A number of entries: decimal digits only, 1 to INT32_MAX.
void set_spf_timeout(const char* value, const line_context& line) {
  long long number = std::strtoll(value, nullptr, 10);
  if (!all_digits(value) || number < 1 || number > max_spf_timeout) {
    line.report(config_line_issue::value_not_accepted,
                "accepted: seconds from 1 to " + std::to_string(max_spf_timeout));
    return;
  }
  line.config.spftimeout = static_cast<int32_t>(number);
}

void set_entry_count(int32_t& field, const char* value, const line_context& line) {
  long long number = std::strtoll(value, nullptr, 10);  // saturates on overflow
  if (!all_digits(value) || number < 1 || number > INT32_MAX) {
    line.report(config_line_issue::value_not_accepted,
                "accepted: a number of entries from 1 to " + std::to_string(INT32_MAX));
    return;
  }
  field = static_cast<int32_t>(number);
}

// Keys whose value is one of the action words.
bool apply_action_key(const char* key, const char* value, const line_context& line) {
  spam_config_record& config = line.config;
  struct action_key {
    const char* name;
    check_action* field;
  };
  const action_key keys[] = {
      {"helocheck", &config.helocheck},
      {"tocheck", &config.tocheck},
      {"spf", &config.spf},
      {"ddns", &config.ddns},
      {"disposition", &config.disposition},
      {"dnsblserv", &config.dnsblserv},
  };
  for (const auto& entry : keys) {
    if (same_word(key, entry.name)) {
      set_action(*entry.field, value, line);
      return true;
    }
  }
  return false;
}

// Keys whose value replaces an owned text.
bool apply_text_key(const char* key, const char* value, const line_context& line) {
  spam_config_record& config = line.config;
  struct text_key {
    const char* name;
    char** field;
  };
  const text_key keys[] = {
      {"tag", &config.tag},
      {"quarantinebox", &config.quarantinebox},
      {"user", &config.user},
      {"socket", &config.socket},
      {"dnsbldou", &config.dnsbl_domain},
      {"socketgroup", &config.socketgroup},
      {"metricsfile", &config.metricsfile},
  };
  for (const auto& entry : keys) {
    if (same_word(key, entry.name)) {
      if (!replace_text(*entry.field, value)) {
        line.report(config_line_issue::value_not_accepted, "out of memory");
      }
      return true;
    }
  }
  return false;
}

// Keys that switch a default off (or quarantine on) with one exact word.
bool apply_switch_key(const char* key, const char* value, const line_context& line) {
  spam_config_record& config = line.config;
  struct switch_key {
    const char* name;
    const char* word;
    int32_t* field;
    int32_t setting;
  };
  const switch_key keys[] = {
      {"refusefail", "off", &config.refusefail, 0},
      {"tagsubject", "off", &config.tagsubject, 0},
      {"addheader", "off", &config.addheader, 0},
      {"quarantine", "on", &config.quarantine, 1},
  };
  for (const auto& entry : keys) {
    if (same_word(key, entry.name)) {
      if (std::strcmp(value, entry.word) == 0) {
        *entry.field = entry.setting;
      } else {
        line.report(config_line_issue::value_not_accepted,
                    std::string("accepted: only \"") + entry.word + "\", in lower case");
      }
      return true;
    }
  }
  return false;
}

bool apply_list_key(const char* key, const char* value, const line_context& line) {
  spam_config_record& config = line.config;
  if (same_word(key, "whitelistip")) {
    add_address_entry(config.whitelistip, value, line);
  } else if (same_word(key, "blacklistip")) {
    add_address_entry(config.blacklistip, value, line);
  } else if (same_word(key, "whitelistptr")) {
    add_pattern_entry(config.whitelistptr, value, false, line);
  } else if (same_word(key, "blacklistptr")) {
    add_pattern_entry(config.blacklistptr, value, false, line);
  } else if (same_word(key, "whitelistfrom")) {
    add_pattern_entry(config.whitelistfrom, value, true, line);
  } else if (same_word(key, "whitelistto")) {
    add_pattern_entry(config.whitelistto, value, true, line);
  } else {
    return false;
  }
  return true;
}

// Applies one directive; an unknown key or an unaccepted value changes nothing.
void apply_setting(const line_context& line) {
  const char* key = line.key;
  const char* value = line.value;
  if (apply_list_key(key, value, line) || apply_action_key(key, value, line) ||
      apply_text_key(key, value, line) || apply_switch_key(key, value, line)) {
    return;
  }
  if (same_word(key, "ttl")) {
    line.config.ttl = parse_time_value(value);
    check_time_value(value, line);
  } else if (same_word(key, "spfcachesize")) {
    set_entry_count(line.config.spfcachesize, value, line);
  } else if (same_word(key, "spftimeout")) {
    set_spf_timeout(value, line);
  } else if (same_word(key, "syslog")) {
    set_facility(value, line);
  } else {
    line.report(config_line_issue::unknown_key);
  }
}

bool is_blank(char c) { return is_ascii_space(c); }

// Tells the observer about words cut at 127 characters and text after the
// value, given where sscanf stopped after the key and after the value.
void report_lost_text(const line_context& line, const char* text, int after_key, int after_value) {
  if (!line.observer) return;
  if (text[after_key] != '\0' && !is_blank(text[after_key])) {
    line.report(config_line_issue::token_cut, "the key; its remainder is read as the value");
  }
  const char* rest = text + after_value;
  if (*rest != '\0' && !is_blank(*rest)) {
    line.report(config_line_issue::token_cut, "the value");
    while (*rest != '\0' && !is_blank(*rest)) ++rest;
  }
  while (is_blank(*rest)) ++rest;
  if (*rest == '\0') return;
  std::string trailing(rest);
  while (!trailing.empty() && is_blank(trailing.back())) trailing.pop_back();
  line.report(config_line_issue::trailing_text, trailing);
}

// "harmfulext": the whole rest of the line (after the key) is the list, so
// that it may be written with blanks after its commas. A list that does not
// read leaves the one in force.
void set_harmful_extensions(const char* rest, const line_context& key_line) {
  std::string value(rest);
  while (!value.empty() && is_blank(value.front())) value.erase(0, 1);
  while (!value.empty() && is_blank(value.back())) value.pop_back();
  line_context line = key_line;
  line.value = value.c_str();  // the report quotes the whole list
  extension_list_reading reading = read_extension_list(value);
  if (!reading.list) {
    line.report(config_line_issue::value_not_accepted,
                reading.problem + "; accepted: extensions such as \"exe, js, iso\"");
    return;
  }
  if (!replace_text(line.config.harmfulext, reading.list->c_str())) {
    line.report(config_line_issue::value_not_accepted, "out of memory");
  }
}

// Handles one (possibly cut) line of the file.
void apply_line(spam_config_record& config, char* text, unsigned number,
                const config_line_observer& observer) {
  if (char* comment = std::strchr(text, '#'); comment != nullptr) *comment = '\0';
  if (text[0] == '\0') return;
  char key[128] = "";
  char value[128] = "";
  int after_key = 0;
  int after_value = 0;
  int found = std::sscanf(text, "%127s%n %127s%n", key, &after_key, value, &after_value);
  line_context line{config, number, observer, key, value};
  if (found == 1) line.report(config_line_issue::missing_value);
  if (found != 2) return;
  if (same_word(key, "harmfulext")) {
    set_harmful_extensions(text + after_key, line);
    return;
  }
  report_lost_text(line, text, after_key, after_value);
  apply_setting(line);
}

// Reads one physical line into `line` (at most line_buffer_size - 1
// characters, newline dropped, always terminated) and skips whatever of it
// did not fit, setting `cut`. False at the end of the file when nothing was
// read. A read that fails sets `read_error` to its errno (EIO when the C
// library gives none); the line read up to there is still returned.
bool read_line(FILE* file, char (&line)[line_buffer_size], bool& cut, int& read_error) {
  std::size_t length = 0;
  cut = false;
  errno = 0;
  int next = std::getc(file);
  for (; next != EOF && next != '\n'; next = std::getc(file)) {
    if (length < line_buffer_size - 1) {
      line[length++] = static_cast<char>(next);
    } else {
      cut = true;
    }
  }
  if (next == EOF && std::ferror(file) != 0) read_error = errno != 0 ? errno : EIO;
  line[length] = '\0';
  return next != EOF || length > 0;
}

}  // namespace

int32_t parse_time_value(const char* text) {
  std::size_t length = std::strlen(text);
  long long factor = 1;
  if (length > 0) {
    switch (text[length - 1]) {
      case 'd':
      case 'D': factor = 86400; break;
      case 'h':
      case 'H': factor = 3600; break;
      case 'm':
      case 'M': factor = 60; break;
      default: break;
    }
  }
  // The number ends at the first non-digit, so a unit letter needs no cutting.
  long long number = std::strtoll(text, nullptr, 10);  // saturates on overflow
  long long seconds;
  if (__builtin_mul_overflow(number, factor, &seconds)) {
    seconds = number < 0 ? LLONG_MIN : LLONG_MAX;
  }
  if (seconds > INT32_MAX) return INT32_MAX;
  if (seconds < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(seconds);
}

spam_config_load load_spam_config(const char* path, const config_line_observer& observer) {
  compile_builtin_patterns();  // list addresses are validated with address_pattern
  spam_config_load result{make_spam_config_record(), false, 0};
  if (!result.settings) {
    result.error = ENOMEM;
    return result;
  }
  spam_config_record& config = *result.settings;
  set_spam_config_defaults(config);
  compile_disposition_pattern(config);
  errno = 0;
  file_handle file(std::fopen(path, "r"));
  if (!file) {
    result.error = errno;
    return result;
  }
  char line[line_buffer_size];
  bool cut = false;
  int read_error = 0;
  for (unsigned number = 1; read_error == 0 && read_line(file.get(), line, cut, read_error);
       ++number) {
    if (cut && observer) observer({number, config_line_issue::line_too_long, {}, {}, {}});
    apply_line(config, line, number, observer);
  }
  if (read_error != 0) {
    // A file that could be opened but not read to its end (a directory, an
    // I/O error) gives no settings at all rather than part of them.
    result.error = read_error;
    free_spam_config(config);
    set_spam_config_defaults(config);
    compile_disposition_pattern(config);
    return result;
  }
  build_list_indexes(config);  // the record is complete: from here on it is only read
  result.file_read = true;
  return result;
}
