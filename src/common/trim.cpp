#include "common/trim.hpp"

#include <cstring>

void trim_right(std::string& text, const char* set) {
  std::string::size_type last = text.find_last_not_of(set);
  text.erase(last == std::string::npos ? 0 : last + 1);
}

void trim_left(std::string& text, const char* set) { text.erase(0, text.find_first_not_of(set)); }

void trim(std::string& text, const char* set) {
  trim_right(text, set);
  trim_left(text, set);
}

void trim_right(char* text, const char* set) {
  std::size_t length = std::strlen(text);
  while (length > 0 && std::strchr(set, text[length - 1]) != nullptr) {
    --length;
  }
  text[length] = '\0';
}

void trim_left(char* text, const char* set) {
  std::size_t skip = std::strspn(text, set);
  if (skip > 0) {
    std::memmove(text, text + skip, std::strlen(text + skip) + 1);
  }
}

void trim(char* text, const char* set) {
  trim_right(text, set);
  trim_left(text, set);
}
