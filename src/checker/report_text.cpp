#include "checker/report_text.hpp"

#include <cstdio>

std::string quoted(const std::string& text, std::size_t limit) {
  std::string result = "\"";
  std::size_t shown = 0;
  for (char c : text) {
    if (shown == limit) {
      result += "...";
      break;
    }
    auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      result += '\\';
      result += c;
    } else if (byte < 0x20 || byte == 0x7f) {
      char escaped[8];
      (void)std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      result += escaped;
    } else {
      result += c;
    }
    ++shown;
  }
  return result + "\"";
}

std::string counted(std::size_t count, const char* singular, const char* plural) {
  return std::to_string(count) + " " + (count == 1 ? singular : plural);
}
