// SPF macro strings (see spf_macro.hpp).
#include "spf/spf_macro.hpp"

#include <algorithm>
#include <charconv>
#include <vector>

#include "spf/check_host.hpp"

namespace {

constexpr std::size_t max_domain_length = 253;

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_alnum(char c) { return is_alpha(c) || is_digit(c); }
bool is_delimiter(char c) { return std::string_view(".-+,/_=").find(c) != std::string_view::npos; }

bool letter_allowed(char letter, bool explanation) {
  if (std::string_view("slodiphv").find(letter) != std::string_view::npos) return true;
  return explanation && std::string_view("crt").find(letter) != std::string_view::npos;
}

// One macro expand "%{...}" parsed from `text` at `at` (the "%").
struct expand_token {
  char letter = 0;  // as written (upper case: URL-escape)
  int keep = 0;     // right-hand parts to keep; 0: all
  bool reverse = false;
  std::string delimiters;  // empty: "."
  std::size_t length = 0;  // characters the expand takes in the text
};

// False when the text at `at` is not a valid "%{...}" expand.
bool read_expand(std::string_view text, std::size_t at, bool explanation, expand_token& token) {
  std::size_t i = at + 2;
  if (i >= text.size()) return false;
  token.letter = text[i];
  if (!letter_allowed(lower(token.letter), explanation)) return false;
  ++i;
  std::size_t digits_start = i;
  while (i < text.size() && is_digit(text[i])) ++i;
  if (i > digits_start) {
    // A number of parts must be nonzero; a very large one keeps them all.
    unsigned long parts = 0;
    auto [end, error] = std::from_chars(text.data() + digits_start, text.data() + i, parts);
    if (error == std::errc::result_out_of_range)
      parts = 1000;
    else if (error != std::errc() || end != text.data() + i)
      return false;
    if (parts == 0) return false;
    token.keep = static_cast<int>(std::min(parts, 1000UL));
  }
  if (i < text.size() && lower(text[i]) == 'r') {
    token.reverse = true;
    ++i;
  }
  while (i < text.size() && is_delimiter(text[i])) token.delimiters += text[i++];
  if (i >= text.size() || text[i] != '}') return false;
  token.length = i + 1 - at;
  return true;
}

// Walks the tokens of a valid or invalid macro string; `on_literal` gets
// each literal character, `on_expand` each expand. False at a syntax error.
template <typename literal_fn, typename expand_fn>
bool walk(std::string_view text, bool explanation, literal_fn on_literal, expand_fn on_expand) {
  std::size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c != '%') {
      auto byte = static_cast<unsigned char>(c);
      bool literal = byte >= 0x21 && byte <= 0x7e;
      if (!literal && !(explanation && c == ' ')) return false;
      on_literal(c);
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) return false;
    char next = text[i + 1];
    if (next == '%' || next == '_' || next == '-') {
      expand_token simple;
      simple.letter = next;
      simple.length = 2;
      on_expand(simple);
      i += 2;
      continue;
    }
    if (next != '{') return false;
    expand_token token;
    if (!read_expand(text, i, explanation, token)) return false;
    on_expand(token);
    i += token.length;
  }
  return true;
}

bool is_top_label(std::string_view label) {
  if (label.empty()) return false;
  if (std::all_of(label.begin(), label.end(), is_alnum)) {
    return std::any_of(label.begin(), label.end(), is_alpha);
  }
  // alphanumerics and hyphens, not at either end
  if (!is_alnum(label.front()) || !is_alnum(label.back())) return false;
  return std::all_of(label.begin(), label.end(), [](char c) { return is_alnum(c) || c == '-'; });
}

std::vector<std::string_view> split(std::string_view value, std::string_view delimiters) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= value.size(); ++i) {
    if (i == value.size() || delimiters.find(value[i]) != std::string_view::npos) {
      parts.push_back(value.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

void url_escape(std::string_view value, std::string& out) {
  static constexpr char hex[] = "0123456789ABCDEF";
  for (char c : value) {
    if (is_alnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += c;
    } else {
      auto byte = static_cast<unsigned char>(c);
      out += '%';
      out += hex[byte >> 4];
      out += hex[byte & 0x0f];
    }
  }
}

std::string letter_value(char letter, const macro_values& values) {
  switch (letter) {
    case 's': return values.sender;
    case 'l': return values.local_part;
    case 'o': return values.sender_domain;
    case 'd': return values.domain;
    case 'i': return values.client_dotted;
    case 'c': return values.client_text;
    case 'p': return values.validated_name ? values.validated_name() : "unknown";
    case 'h': return values.helo;
    case 'v': return values.client_v6 ? "ip6" : "in-addr";
    case 'r': return values.receiver.empty() ? "unknown" : values.receiver;
    default: return "";  // t: never expanded, explanations are not fetched
  }
}

void append_expand(const expand_token& token, const macro_values& values, uint32_t& letters,
                   std::string& out) {
  switch (token.letter) {
    case '%': out += '%'; return;
    case '_': out += ' '; return;
    case '-': out += "%20"; return;
    default: break;
  }
  char letter = lower(token.letter);
  letters |= macro_bit(letter);
  std::string value = letter_value(letter, values);
  std::vector<std::string_view> parts =
      split(value, token.delimiters.empty() ? std::string_view(".") : token.delimiters);
  if (token.reverse) std::reverse(parts.begin(), parts.end());
  std::size_t first = 0;
  if (token.keep > 0 && static_cast<std::size_t>(token.keep) < parts.size()) {
    first = parts.size() - static_cast<std::size_t>(token.keep);
  }
  std::string joined;
  for (std::size_t i = first; i < parts.size(); ++i) {
    if (i > first) joined += '.';
    joined += parts[i];
  }
  if (token.letter != letter) {
    url_escape(joined, out);
  } else {
    out += joined;
  }
}

}  // namespace

bool valid_macro_string(std::string_view text, bool explanation) {
  return walk(
      text, explanation, [](char) {}, [](const expand_token&) {});
}

bool valid_domain_spec(std::string_view text) {
  std::string tail;  // the literal characters after the last expand
  bool ends_in_expand = false;
  bool valid = walk(
      text, false,
      [&](char c) {
        tail += c;
        ends_in_expand = false;
      },
      [&](const expand_token&) {
        tail.clear();
        ends_in_expand = true;
      });
  if (!valid || text.empty()) return false;
  if (ends_in_expand) return true;
  std::string_view rest(tail);
  if (rest.size() > 1 && rest.back() == '.') rest.remove_suffix(1);
  std::size_t dot = rest.rfind('.');
  if (dot == std::string_view::npos) return false;
  return is_top_label(rest.substr(dot + 1));
}

std::string expand_macros(std::string_view text, const macro_values& values, uint32_t& letters) {
  std::string out;
  (void)walk(
      text, true, [&](char c) { out += c; },
      [&](const expand_token& token) { append_expand(token, values, letters, out); });
  while (out.size() > max_domain_length) {
    std::size_t dot = out.find('.');
    if (dot == std::string::npos) break;
    out.erase(0, dot + 1);
  }
  return out;
}
