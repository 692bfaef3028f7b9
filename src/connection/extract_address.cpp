// Address extraction from SMTP envelope arguments.
#include "connection/extract_address.hpp"

#include <cstring>

namespace {

bool is_edge_blank(char character) {
  return character == ' ' || (character >= 7 && character <= 13);
}

}  // namespace

bool extract_address(char* out, std::size_t out_size, const char* raw) {
  if (out_size == 0) return false;
  out[0] = '\0';
  if (raw == nullptr) return false;
  const char* open = std::strchr(raw, '<');
  const char* close = std::strrchr(raw, '>');
  if (open == nullptr || close == nullptr || close < open) return false;
  std::size_t length = static_cast<std::size_t>(close - open - 1);
  if (close - open - 1 < 2 || length >= out_size) return false;
  const char* first = open + 1;
  if (is_edge_blank(first[0]) || is_edge_blank(first[length - 1])) return false;
  if (std::memchr(first, '@', length) == nullptr) return false;
  std::memcpy(out, first, length);
  out[length] = '\0';
  return true;
}
