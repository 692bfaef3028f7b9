// The body shared by the sendmail.cf and macro-file fuzz targets.
//
// The input becomes the file to edit. The install edit runs, then the remove
// edit on its result, each with a runner that records the move command and
// does the move itself (no shell). Checked on the way:
// - an install on a file that already carries the filter leaves it as it is;
// - an edit whose move fails leaves the file byte for byte as it was, and
//   no temporary is left behind by a complete edit that was moved.
// A target names its editors with EDITOR_FUZZ_TARGET, which defines its two
// libFuzzer entry points.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.hpp"

namespace fuzz {

using editor = void (*)(const char* path, const char* temp_path, command_runner& runner);

struct editor_pair {
  editor install;
  editor remove;
  bool (*installed_line)(const std::string& line);  // a line saying "already installed"
};

inline bool any_line(const std::string& content, bool (*test)(const std::string& line)) {
  std::string::size_type start = 0;
  while (start <= content.size()) {
    std::string::size_type end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    if (test(content.substr(start, end - start))) return true;
    start = end + 1;
  }
  return false;
}

inline void run_editor_case(const editor_pair& editors, const uint8_t* data, std::size_t size) {
  static const std::string file_path = work_path("edited");
  static const std::string temp_path = work_path("edited.tmp");
  std::string original(reinterpret_cast<const char*>(data), size);
  write_file(file_path, original);

  recording_runner runner(temp_path, file_path);
  editors.install(file_path.c_str(), temp_path.c_str(), runner);
  std::string installed = read_file(file_path);

  // A second install of a file that carries the filter changes nothing.
  if (any_line(installed, editors.installed_line)) {
    recording_runner again(temp_path, file_path);
    editors.install(file_path.c_str(), temp_path.c_str(), again);
    if (read_file(file_path) != installed) std::abort();
  }

  recording_runner removal(temp_path, file_path);
  editors.remove(file_path.c_str(), temp_path.c_str(), removal);
  std::string removed = read_file(file_path);

  // A failed move never touches the file.
  recording_runner failing(temp_path, file_path);
  failing.succeed = false;
  editors.install(file_path.c_str(), temp_path.c_str(), failing);
  if (read_file(file_path) != removed) std::abort();
  failing.commands.clear();
  editors.remove(file_path.c_str(), temp_path.c_str(), failing);
  if (read_file(file_path) != removed) std::abort();
}

}  // namespace fuzz

// The libFuzzer entry points of an editor target: logs silenced and the work
// directory made once, then run_editor_case on every input.
#define EDITOR_FUZZ_TARGET(install, remove, installed_line)                   \
  extern "C" int LLVMFuzzerInitialize(int*, char***) {                       \
    fuzz::silence_logs();                                                    \
    (void)fuzz::work_dir();                                                  \
    return 0;                                                                \
  }                                                                          \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {  \
    fuzz::run_editor_case({install, remove, installed_line}, data, size);    \
    return 0;                                                                \
  }
