// Small text helpers shared by every subsystem (see text.hpp).
#include "common/text.hpp"

#include <cstdlib>
#include <cstring>

#include "common/alloc_seam.hpp"

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
  for (; *text != '\0'; ++text) *text = static_cast<char>(lower_ascii_byte(*text));
}

bool same_text_ignoring_ascii_case(const char* left, const char* right) {
  for (; lower_ascii_byte(*left) == lower_ascii_byte(*right); ++left, ++right) {
    if (*left == '\0') return true;
  }
  return false;
}

bool replace_text(char*& field, const char* value) {
  char* copy = teslo_strdup(value);
  if (copy == nullptr) return false;
  std::free(field);
  field = copy;
  return true;
}
