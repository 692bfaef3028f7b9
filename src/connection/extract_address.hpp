// The address inside the angle brackets of an SMTP MAIL FROM / RCPT TO
// argument. Used by the envelope-sender stage and the recipient stage; any
// thread, no shared state.
#pragma once

#include <cstddef>

// Copies the text between the first "<" and the last ">" of `raw` into
// `out` (which holds `out_size` bytes) and terminates it. Fails when a
// bracket is missing, fewer than two characters lie between them, the first
// or last character is a space or a control character 7 to 13, there is no
// "@", or the address would not fit `out` (it is never cut short). Letter
// case is left as it is. On failure `out` holds an empty text.
[[nodiscard]] bool extract_address(char* out, std::size_t out_size, const char* raw);

template <std::size_t N>
[[nodiscard]] bool extract_address(char (&out)[N], const char* raw) {
  return extract_address(out, N, raw);
}
