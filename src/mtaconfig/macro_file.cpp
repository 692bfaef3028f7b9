#include "mtaconfig/macro_file.hpp"

#include <string>
#include <syslog.h>

#include "common/log_sink.hpp"
#include "common/text.hpp"
#include "common/trim.hpp"
#include "mtaconfig/file_rewrite.hpp"

namespace {

constexpr const char* presence_marker = "INPUT_MAIL_FILTER(`TESLO'";
constexpr const char* removal_marker = "INPUT_MAIL_FILTER(`TESLO";
constexpr const char* anchor = "MAILER(local)";

// Logs which of the two files could not be opened; true when both are open.
bool opened(const file_rewrite& rewrite, const char* mc_path) {
  if (!rewrite.source_open()) log_line(LOG_ERR, "%s remake error!", mc_path);
  if (!rewrite.temp_open()) log_line(LOG_ERR, "%s write error", rewrite.temp_path().c_str());
  return rewrite.source_open() && rewrite.temp_open();
}

// Puts the new version in place; an incomplete one never replaces the file.
void replace_mc(file_rewrite& rewrite) {
  if (!rewrite.replace()) log_line(LOG_ERR, "brin.mc replace error");
}

}  // namespace

void install_mc_entry(const char* mc_path) {
  file_rewrite rewrite(mc_path);
  if (!opened(rewrite, mc_path)) return;

  bool present = false;
  std::string line;
  while (rewrite.read_line(line)) {
    trim_left(line, trim_chars);
    if (contains(line, presence_marker)) present = true;
  }
  // Already there: the file stays as it is.
  if (present) return;

  rewrite.rewind();
  while (rewrite.read_line(line)) {
    if (line.starts_with(anchor)) rewrite.write_line(filter_entry::macro.c_str());
    rewrite.write_line(line);
  }
  replace_mc(rewrite);
}

void remove_mc_entry(const char* mc_path) {
  file_rewrite rewrite(mc_path);
  if (!opened(rewrite, mc_path)) return;

  std::string line;
  while (rewrite.read_line(line)) {
    if (!contains(line, removal_marker)) rewrite.write_line(line);
  }
  replace_mc(rewrite);
}
