#include "mtaconfig/macro_file.hpp"

#include <string>
#include <syslog.h>

#include "common/log_sink.hpp"
#include "common/paths.hpp"
#include "common/trim.hpp"
#include "mtaconfig/file_rewrite.hpp"

namespace {

constexpr const char* presence_marker = "INPUT_MAIL_FILTER(`TESLO'";
constexpr const char* removal_marker = "INPUT_MAIL_FILTER(`TESLO";
constexpr const char* anchor = "MAILER(local)";

bool contains(const std::string& line, const char* text) { return line.find(text) != std::string::npos; }

// Logs which of the two files could not be opened; true when both are open.
bool opened(const file_rewrite& rewrite, const char* mc_path, const char* temp_path) {
  if (!rewrite.source_open()) log_line(LOG_ERR, "%s remake error!", mc_path);
  if (!rewrite.temp_open()) log_line(LOG_ERR, "%s write error", temp_path);
  return rewrite.source_open() && rewrite.temp_open();
}

// Moves a complete temporary over the macro file and removes the temporary
// name afterwards. An incomplete copy is removed instead of moved; a move
// that does not exit 0 leaves the temporary in place.
void replace_mc(file_rewrite& rewrite, const char* move_format, const char* mc_path,
                const char* temp_path, command_runner& runner) {
  if (!rewrite.finish()) {
    log_line(LOG_ERR, "brin.mc replace error");
    rewrite.discard_temp();
    return;
  }
  if (runner.run(move_command(move_format, temp_path, mc_path).c_str()) != 0) {
    log_line(LOG_ERR, "brin.mc replace error");
    return;
  }
  rewrite.discard_temp();
}

}  // namespace

void install_mc_entry(const char* mc_path, const char* temp_path, command_runner& runner) {
  file_rewrite rewrite(mc_path, temp_path);
  if (!opened(rewrite, mc_path, temp_path)) return;

  bool present = false;
  std::string line;
  while (rewrite.read_line(line)) {
    trim_left(line, trim_chars);
    if (contains(line, presence_marker)) present = true;
  }
  // Already there: the file stays as it is (an empty temporary is left).
  if (present) return;

  rewrite.rewind();
  while (rewrite.read_line(line)) {
    if (line.starts_with(anchor)) rewrite.write_line(filter_macro_line);
    rewrite.write_line(line);
  }
  replace_mc(rewrite, commands::mc_install_move, mc_path, temp_path, runner);
}

void remove_mc_entry(const char* mc_path, const char* temp_path, command_runner& runner) {
  file_rewrite rewrite(mc_path, temp_path);
  if (!opened(rewrite, mc_path, temp_path)) return;

  std::string line;
  while (rewrite.read_line(line)) {
    if (!contains(line, removal_marker)) rewrite.write_line(line);
  }
  replace_mc(rewrite, commands::mc_remove_move, mc_path, temp_path, runner);
}
