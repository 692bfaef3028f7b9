// Makes a text safe as the message of an SMTP reply set with smfi_setreply.
//
// libmilter refuses a reply text that holds a carriage return or a line feed,
// and a text with a single "%" is not used as given. Texts that embed what a
// client sent (sender address, HELO name) therefore go through
// safe_reply_text first. Pure; any thread.
#pragma once

#include <cstddef>

// Longest reply text that libmilter takes.
inline constexpr std::size_t reply_text_max = 980;

// Copies `text` into `out` (room for `out_size` bytes, terminator included,
// at most reply_text_max characters) with every "%" doubled and every control
// byte (below 32, and 127) left out. A text that does not fit is cut, never
// inside a doubled "%". Returns false when it had to be cut.
bool safe_reply_text(char* out, std::size_t out_size, const char* text);
