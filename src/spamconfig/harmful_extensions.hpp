// The file-name extensions that make an attachment harmful ("harmfulext").
//
// A settings record holds the list as one owned text, the extensions in
// lower case without dots, separated by single spaces. The loader reads the
// key's value with read_extension_list; the message stages ask
// harmful_file_name. Both only read what they are given, so any thread may
// call them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The list in force when orvane.conf sets none: the executables, scripts and
// shortcuts of the built-in attachment pattern, then the script, installer,
// disk-image and archive-like types that mail-borne malware uses today.
extern const char* const default_harmful_extensions;

// Extensions are at most this long (letters and digits only).
inline constexpr std::size_t max_extension_length = 16;

// What read_extension_list made of a value.
struct extension_list_reading {
  std::optional<std::string> list;  // normalized list; nothing when refused
  std::string problem;              // why it was refused
};

// Reads a list as written in the file: extensions separated by commas and/or
// blanks, each with an optional leading dot, letters and digits only, case
// ignored; repeats are dropped. A value with no extension, an empty entry
// between two commas, or an entry of other characters or over
// max_extension_length characters is refused whole.
extension_list_reading read_extension_list(std::string_view text);

// The extension of a file name as the check sees it: the text after the last
// dot of the name's last path component ("/" or "\" separated), once
// trailing dots and blanks are removed, in lower case. Empty when there is
// none.
std::string file_name_extension(std::string_view name);

// True when the extension of `name` is on `list` (a normalized list).
bool harmful_file_name(std::string_view name, const char* list);
