// Escaping of reply texts built from client input (see the header).
#include "message/reply_text.hpp"

#include <algorithm>

bool safe_reply_text(char* out, std::size_t out_size, const char* text) {
  if (out_size == 0) return false;
  const std::size_t limit = std::min(out_size - 1, reply_text_max);
  std::size_t used = 0;
  for (const char* at = text; *at != '\0'; ++at) {
    const auto byte = static_cast<unsigned char>(*at);
    if (byte < 32 || byte == 127) continue;
    const std::size_t need = byte == '%' ? 2 : 1;
    if (used + need > limit) {
      out[used] = '\0';
      return false;
    }
    out[used++] = *at;
    if (byte == '%') out[used++] = '%';
  }
  out[used] = '\0';
  return true;
}
