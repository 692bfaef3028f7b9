// Telling and parsing SPF records (see spf_record.hpp).
#include "spf/spf_record.hpp"

#include <arpa/inet.h>

#include <cstring>

#include "spf/spf_macro.hpp"

namespace {

constexpr std::string_view version = "v=spf1";

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool same_word(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// A CIDR length: "0", or 1 to 9 followed by digits, no greater than `max`.
bool read_length(std::string_view digits, int max, int& length) {
  if (digits.empty() || digits.size() > 3) return false;
  for (char c : digits) {
    if (!is_digit(c)) return false;
  }
  if (digits.size() > 1 && digits[0] == '0') return false;
  int value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  if (value > max) return false;
  length = value;
  return true;
}

// Takes a dual CIDR length ("/n", "//m" or "/n//m") off the end of `rest`.
bool take_dual_length(std::string_view& rest, spf_term& term) {
  std::size_t double_slash = rest.rfind("//");
  if (double_slash != std::string_view::npos &&
      rest.find('/', double_slash + 2) == std::string_view::npos) {
    if (!read_length(rest.substr(double_slash + 2), 128, term.cidr6)) return false;
    rest = rest.substr(0, double_slash);
  }
  std::size_t slash = rest.rfind('/');
  if (slash != std::string_view::npos) {
    std::string_view digits = rest.substr(slash + 1);
    bool all_digits = !digits.empty();
    for (char c : digits) all_digits = all_digits && is_digit(c);
    // Only a number after the last "/" is a length; anything else belongs
    // to the domain-spec and is judged there.
    if (all_digits) {
      if (!read_length(digits, 32, term.cidr4)) return false;
      rest = rest.substr(0, slash);
    }
  }
  return true;
}

bool read_network(std::string_view text, bool v6, spf_term& term) {
  std::string_view address = text;
  std::size_t slash = text.find('/');
  if (slash != std::string_view::npos) {
    address = text.substr(0, slash);
    if (!read_length(text.substr(slash + 1), v6 ? 128 : 32, v6 ? term.cidr6 : term.cidr4)) {
      return false;
    }
  }
  std::string copy(address);
  term.network.v6 = v6;
  return inet_pton(v6 ? AF_INET6 : AF_INET, copy.c_str(), term.network.bytes.data()) == 1;
}

struct mechanism_name {
  std::string_view name;
  spf_mechanism mechanism;
};
constexpr mechanism_name mechanism_names[] = {
    {"all", spf_mechanism::all}, {"include", spf_mechanism::include}, {"a", spf_mechanism::a},
    {"mx", spf_mechanism::mx},   {"ptr", spf_mechanism::ptr},         {"ip4", spf_mechanism::ip4},
    {"ip6", spf_mechanism::ip6}, {"exists", spf_mechanism::exists}};

bool read_mechanism(std::string_view text, spf_term& term, std::string& problem) {
  if (!text.empty() && std::strchr("+-~?", text[0]) != nullptr) {
    term.qualifier = text[0];
    text.remove_prefix(1);
  }
  std::size_t name_end = text.find_first_of(":/");
  std::string_view name = text.substr(0, name_end);
  std::string_view rest = name_end == std::string_view::npos ? "" : text.substr(name_end);
  bool known = false;
  for (const mechanism_name& entry : mechanism_names) {
    if (same_word(name, entry.name)) {
      term.mechanism = entry.mechanism;
      known = true;
    }
  }
  if (!known) {
    problem = "unknown mechanism";
    return false;
  }
  bool valid = true;
  switch (term.mechanism) {
    case spf_mechanism::all: valid = rest.empty(); break;
    case spf_mechanism::include:
    case spf_mechanism::exists:
      valid = rest.size() > 1 && rest[0] == ':' && valid_domain_spec(rest.substr(1));
      if (valid) term.domain_spec = rest.substr(1);
      break;
    case spf_mechanism::ptr:
      if (!rest.empty()) {
        valid = rest[0] == ':' && valid_domain_spec(rest.substr(1));
        if (valid) term.domain_spec = rest.substr(1);
      }
      break;
    case spf_mechanism::a:
    case spf_mechanism::mx:
      valid = take_dual_length(rest, term);
      if (valid && !rest.empty()) {
        valid = rest[0] == ':' && valid_domain_spec(rest.substr(1));
        if (valid) term.domain_spec = rest.substr(1);
      }
      break;
    case spf_mechanism::ip4:
    case spf_mechanism::ip6:
      valid = rest.size() > 1 && rest[0] == ':' &&
              read_network(rest.substr(1), term.mechanism == spf_mechanism::ip6, term);
      break;
  }
  if (!valid) problem = "malformed mechanism";
  return valid;
}

// A modifier's name: ALPHA *( ALPHA / DIGIT / "-" / "_" / "." ). Gives
// its length, or 0 when `text` does not start with "name=".
std::size_t modifier_name_length(std::string_view text) {
  if (text.empty() || !is_alpha(text[0])) return 0;
  std::size_t i = 1;
  while (i < text.size() && (is_alpha(text[i]) || is_digit(text[i]) || text[i] == '-' ||
                             text[i] == '_' || text[i] == '.')) {
    ++i;
  }
  return i < text.size() && text[i] == '=' ? i : 0;
}

bool read_modifier(std::string_view name, std::string_view value, spf_record& record,
                   std::string& problem) {
  if (same_word(name, "redirect") || same_word(name, "exp")) {
    std::string& target = same_word(name, "redirect") ? record.redirect : record.explanation;
    if (!target.empty()) {
      problem = "modifier given twice";
      return false;
    }
    if (!valid_domain_spec(value)) {
      problem = "malformed modifier";
      return false;
    }
    target = value;
    return true;
  }
  if (!valid_macro_string(value, false)) {
    problem = "malformed modifier";
    return false;
  }
  return true;
}

bool read_term(std::string_view text, spf_record& record, std::string& problem) {
  std::size_t name_length = modifier_name_length(text);
  if (name_length > 0) {
    return read_modifier(text.substr(0, name_length), text.substr(name_length + 1), record,
                         problem);
  }
  spf_term term;
  if (!read_mechanism(text, term, problem)) return false;
  record.terms.push_back(std::move(term));
  return true;
}

}  // namespace

bool is_spf_record(std::string_view text) {
  return text.size() >= version.size() && same_word(text.substr(0, version.size()), version) &&
         (text.size() == version.size() || text[version.size()] == ' ');
}

bool parse_spf_record(std::string_view text, spf_record& record, std::string& problem) {
  record = spf_record{};
  if (!is_spf_record(text)) {
    problem = "not an SPF record";
    return false;
  }
  std::size_t i = version.size();
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    if (i == text.size()) break;
    std::size_t end = text.find(' ', i);
    if (end == std::string_view::npos) end = text.size();
    std::string_view term = text.substr(i, end - i);
    if (!read_term(term, record, problem)) {
      problem += ": ";
      problem.append(term.substr(0, 40));
      return false;
    }
    i = end;
  }
  return true;
}
