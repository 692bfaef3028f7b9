// Fuzzes the body scanner with arbitrary chunk sequences and compares it,
// chunk by chunk, with the plain byte-at-a-time scan (every line given to
// regexec): the same matches, the same stop, the same carried line.
//
// Input: one byte of settings (which pattern, whether the hook stops the
// scan, the carried line's starting length), then chunks, each a 16-bit
// length and that many bytes; a chunk whose length has its top bit set is
// its bytes repeated out to a length past the per-chunk scan limit.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "message/body_scan_reference.hpp"
#include "message/body_scanner.hpp"
#include "spamconfig/builtin_patterns.hpp"
#include "spamconfig/spam_config.hpp"

namespace {

// The text the daemon requires before it runs the built-in pattern.
constexpr const char* builtin_required_text = "filename=";

regex_t plain_pattern;  // a short pattern of our own, tested on every line

struct hook_state {
  bool stop;
  std::size_t calls;
  std::size_t line_ends;  // the sum of the line ends reported
};

bool count_match(void* user, std::size_t line_end) {
  auto& state = *static_cast<hook_state*>(user);
  ++state.calls;
  state.line_ends += line_end;
  return state.stop;
}

struct carried_line {
  char text[body_line_size];
  int32_t length;
};

std::vector<unsigned char> next_chunk(FuzzedDataProvider& input) {
  uint16_t header = input.ConsumeIntegral<uint16_t>();
  std::vector<unsigned char> bytes = input.ConsumeBytes<unsigned char>(header & 0x7fff);
  if ((header & 0x8000) != 0 && !bytes.empty()) {
    std::vector<unsigned char> repeated;
    repeated.reserve(body_chunk_scan_limit + 4096);
    while (repeated.size() < body_chunk_scan_limit + 1000) {
      repeated.insert(repeated.end(), bytes.begin(), bytes.end());
    }
    return repeated;
  }
  return bytes;
}

}  // namespace

// The default settings, for their compiled attachment pattern.
spam_config_record builtin_settings{};

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_logs();
  compile_builtin_patterns();
  set_spam_config_defaults(builtin_settings);
  compile_disposition_pattern(builtin_settings);
  regcomp(&plain_pattern, "(virus|x{3,})\\.(exe|scr)$", REG_EXTENDED | REG_ICASE);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  uint8_t settings = input.ConsumeIntegral<uint8_t>();
  body_scan_pattern fast_pattern{nullptr, nullptr};
  switch (settings & 3) {
    case 0: fast_pattern = {&builtin_settings.disposition_regex, builtin_required_text}; break;
    case 1: fast_pattern = {&builtin_settings.disposition_regex, nullptr}; break;
    case 2: fast_pattern = {&plain_pattern, nullptr}; break;
    default: break;  // lines are cut but never matched
  }
  hook_state fast_hook{(settings & 4) != 0, 0, 0};
  hook_state reference_hook = fast_hook;

  carried_line fast{};
  std::string start = input.ConsumeBytesAsString((settings >> 3) * 64);
  std::memcpy(fast.text, start.data(), start.size());
  fast.length = static_cast<int32_t>(start.size());
  carried_line reference = fast;

  while (input.remaining_bytes() > 0) {
    std::vector<unsigned char> chunk = next_chunk(input);
    chunk.reserve(1);  // libmilter never hands over a null chunk
    body_scan_result fast_result = scan_body_chunk(
        fast.text, fast.length, chunk.data(), chunk.size(), fast_pattern, count_match, &fast_hook);
    body_scan_result reference_result =
        reference_scan_body_chunk(reference.text, reference.length, chunk.data(), chunk.size(),
                                  fast_pattern.pattern, count_match, &reference_hook);
    if (fast_result.matches != reference_result.matches ||
        fast_result.stopped != reference_result.stopped ||
        fast_hook.calls != reference_hook.calls ||
        fast_hook.line_ends != reference_hook.line_ends || fast.length != reference.length ||
        fast.length < 0 || fast.length >= static_cast<int32_t>(body_line_size) ||
        std::memcmp(fast.text, reference.text, static_cast<std::size_t>(fast.length)) != 0) {
      std::abort();
    }
  }
  return 0;
}
