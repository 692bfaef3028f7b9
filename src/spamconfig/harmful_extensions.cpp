// The harmful-extension list: reading it and testing names against it.
#include "spamconfig/harmful_extensions.hpp"

#include <algorithm>

#include "common/text.hpp"

const char* const default_harmful_extensions =
    "pif exe com scr lnk cpl vbs hta bat js jse wsf wsh vbe msi iso img vhd vhdx ps1 jar cmd reg";

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_letter_or_digit(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Whether `entry` is one of the words of the normalized list.
bool listed(std::string_view list, std::string_view entry) {
  while (!list.empty()) {
    std::size_t end = list.find(' ');
    std::string_view word = list.substr(0, end);
    if (word == entry) return true;
    if (end == std::string_view::npos) break;
    list.remove_prefix(end + 1);
  }
  return false;
}

}  // namespace

extension_list_reading read_extension_list(std::string_view text) {
  extension_list_reading reading;
  std::string list;
  std::size_t at = 0;
  bool after_comma = true;  // an entry is due (start, or a comma was seen)
  for (;;) {
    while (at < text.size() && is_blank(text[at])) ++at;
    if (at == text.size()) break;
    if (text[at] == ',') {
      if (after_comma) {
        reading.problem = "an empty entry between commas";
        return reading;
      }
      after_comma = true;
      ++at;
      continue;
    }
    std::size_t start = at;
    while (at < text.size() && !is_blank(text[at]) && text[at] != ',') ++at;
    std::string_view entry = text.substr(start, at - start);
    if (entry.front() == '.') entry.remove_prefix(1);
    if (entry.empty() || entry.size() > max_extension_length ||
        !std::all_of(entry.begin(), entry.end(), is_letter_or_digit)) {
      reading.problem.assign(1, '"');
      reading.problem.append(text.substr(start, at - start));
      reading.problem.append("\" is not an extension (letters and digits, at most ");
      reading.problem.append(std::to_string(max_extension_length)).append(")");
      return reading;
    }
    std::string lowered(entry);
    for (char& c : lowered) c = static_cast<char>(lower_ascii_byte(c));
    if (!listed(list, lowered)) list += (list.empty() ? "" : " ") + lowered;
    after_comma = false;
  }
  if (list.empty()) {
    reading.problem = "no extension given";
    return reading;
  }
  if (after_comma) {
    reading.problem = "an empty entry after the last comma";
    return reading;
  }
  reading.list = std::move(list);
  return reading;
}

std::string file_name_extension(std::string_view name) {
  while (!name.empty() && (name.back() == '.' || is_blank(name.back()))) name.remove_suffix(1);
  std::size_t separator = name.find_last_of("/\\");
  if (separator != std::string_view::npos) name.remove_prefix(separator + 1);
  std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {};
  std::string extension(name.substr(dot + 1));
  for (char& c : extension) c = static_cast<char>(lower_ascii_byte(c));
  return extension;
}

bool harmful_file_name(std::string_view name, const char* list) {
  if (list == nullptr) return false;
  std::string extension = file_name_extension(name);
  return !extension.empty() && listed(list, extension);
}
