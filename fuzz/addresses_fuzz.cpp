// Fuzzes address extraction (MAIL FROM / RCPT TO arguments) and the copy
// phase's address normalisation and rule matching.
//
// extract_address is checked against what it promises: on success the
// output is the text between the first "<" and the last ">", at least two
// characters with an "@", not cut short; on failure the output is empty.
// The normalisations must give an address that holds an "@" (its own, or
// the one the completion with the host adds).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "connection/extract_address.hpp"
#include "copyrules/copy_rule_table.hpp"
#include "fuzz_support.hpp"
#include "message/copying.hpp"

namespace {

void check_extraction(const std::string& raw, std::size_t out_size) {
  std::vector<char> out(out_size + 1, '\x55');  // one guard byte past the end
  bool ok = extract_address(out.data(), out_size, raw.c_str());
  if (out[out_size] != '\x55') std::abort();  // wrote past out_size
  const char* text = raw.c_str();
  if (!ok) {
    if (out_size > 0 && out[0] != '\0') std::abort();
    return;
  }
  const char* open = std::strchr(text, '<');
  const char* close = std::strrchr(text, '>');
  if (open == nullptr || close == nullptr || close <= open + 2) std::abort();
  std::string inside(open + 1, close);
  if (std::strcmp(out.data(), inside.c_str()) != 0) std::abort();
  if (inside.find('@') == std::string::npos) std::abort();
}

void check_normalised(const std::string& address) {
  if (address.find('@') == std::string::npos) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_logs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  std::size_t out_size = input.ConsumeIntegralInRange<std::size_t>(0, 600);
  std::string host = input.ConsumeRandomLengthString(300);
  std::string pattern = input.ConsumeRandomLengthString(300);
  std::string raw = input.ConsumeRemainingBytesAsString();

  check_extraction(raw, out_size);
  char fixed[256];
  (void)extract_address(fixed, raw.c_str());

  std::string recipient = normalise_recipient(raw, host);
  std::string sender = normalise_sender(raw, host);
  check_normalised(recipient);
  check_normalised(sender);

  copy_rule_table rules;
  add_copy_rule(rules, pattern, "SR", "copy@archive.test");
  for (const copy_rule& rule : rules) {
    (void)copy_rule_matches(rule, recipient);
    (void)copy_rule_matches(rule, sender);
  }
  return 0;
}
