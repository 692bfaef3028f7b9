// SPF macro strings (RFC 7208 section 7): their syntax, and their expansion
// into a domain name.
//
// A macro string is literal characters (0x21 to 0x7E but "%") and macro
// expands: "%{" letter, digits, an optional "r", delimiters "}", or "%%",
// "%_", "%-". Letters: s l o d i p h v in any domain-spec; c r t only in
// explanation text. An upper-case letter URL-escapes its expansion.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// Syntax of a macro string; `explanation` admits c, r and t and spaces.
bool valid_macro_string(std::string_view text, bool explanation);

// A domain-spec: a macro string that ends in "." and a top label (not all
// digits, optionally followed by "."), or in a macro expand.
bool valid_domain_spec(std::string_view text);

// The values the letters stand for in one check_host() call.
struct macro_values {
  std::string sender;                           // s: local-part@domain
  std::string local_part;                       // l
  std::string sender_domain;                    // o
  std::string domain;                           // d: the domain being checked
  std::string client_dotted;                    // i: dotted decimal, or dotted nibbles for IPv6
  std::string client_text;                      // c: the usual text form
  bool client_v6 = false;                       // v: "ip6" or "in-addr"
  std::string helo;                             // h
  std::string receiver;                         // r
  std::function<std::string()> validated_name;  // p: asked only when used
};

// Expands a macro string already found valid. `letters` gains the bit of
// every letter expanded (spf/check_host.hpp, macro_bit). A domain longer
// than 253 characters loses labels on the left until it fits.
std::string expand_macros(std::string_view text, const macro_values& values, uint32_t& letters);
