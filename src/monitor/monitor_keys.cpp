// Reads the monitor's three keys of orvane.conf (see monitor_keys.hpp).
#include "monitor/monitor_keys.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/text.hpp"

namespace {

struct file_closer {
  void operator()(FILE* file) const { (void)std::fclose(file); }
};
using file_handle = std::unique_ptr<FILE, file_closer>;

// The same buffer as the full loader's: 254 characters and the terminator.
constexpr std::size_t line_buffer_size = 255;

// One physical line, cut to the buffer; false at the end of the file when
// nothing was read, and on a read error (`failed` is then set).
bool read_line(FILE* file, char (&line)[line_buffer_size], bool& failed) {
  std::size_t length = 0;
  int next = std::getc(file);
  for (; next != EOF && next != '\n'; next = std::getc(file)) {
    if (length < line_buffer_size - 1) line[length++] = static_cast<char>(next);
  }
  line[length] = '\0';
  if (next == EOF && std::ferror(file) != 0) {
    failed = true;
    return false;
  }
  return next != EOF || length > 0;
}

void apply_line(monitor_keys& keys, char* text) {
  if (char* comment = std::strchr(text, '#'); comment != nullptr) *comment = '\0';
  char key[128] = "";
  char value[128] = "";
  if (std::sscanf(text, "%127s %127s", key, value) != 2) return;
  if (same_text_ignoring_ascii_case(key, "user")) {
    keys.user = value;
  } else if (same_text_ignoring_ascii_case(key, "socketgroup")) {
    keys.socketgroup = value;
  } else if (same_text_ignoring_ascii_case(key, "metricsfile")) {
    keys.metricsfile = value;
  }
}

}  // namespace

monitor_keys read_monitor_keys(const char* path) {
  monitor_keys keys;
  file_handle file(std::fopen(path, "re"));
  if (!file) return keys;
  char line[line_buffer_size];
  bool failed = false;
  while (read_line(file.get(), line, failed)) apply_line(keys, line);
  // Part of a file is not the file: the defaults, as the full loader gives.
  if (failed) return {};
  return keys;
}
