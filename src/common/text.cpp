#include "common/text.hpp"

#include <cstring>

bool copy_bounded(char* dest, const char* source, std::size_t limit) {
  if (source == nullptr) {
    dest[0] = '\0';
    return true;
  }
  std::size_t length = strnlen(source, limit);
  std::memcpy(dest, source, length);
  dest[length] = '\0';
  return source[length] == '\0';
}

void lower_ascii(char* text) {
  for (; *text != '\0'; ++text) {
    if (*text >= 'A' && *text <= 'Z') {
      *text = static_cast<char>(*text - 'A' + 'a');
    }
  }
}
