// The body shared by the sendmail.cf and macro-file fuzz targets.
//
// The input becomes the file to edit. The install edit runs, then the remove
// edit on its result. Checked on the way:
// - an install on a file that already carries the filter leaves it as it is;
// - no edit leaves its temporary behind;
// - an edit whose copy cannot be completed (the file-size limit stands in
//   for a full disk) leaves the file byte for byte as it was.
// A target names its editors with EDITOR_FUZZ_TARGET, which defines its two
// libFuzzer entry points.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>

#include "fuzz_support.hpp"
#include "mtaconfig/file_rewrite.hpp"

namespace fuzz {

using editor = void (*)(const char* path);

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

// Runs `edit` with writes past `bytes` failing (EFBIG), as on a full disk.
inline void with_file_size_limit(rlim_t bytes, const std::function<void()>& edit) {
  rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
  rlimit lowered = saved;
  lowered.rlim_cur = bytes;
  setrlimit(RLIMIT_FSIZE, &lowered);
  edit();
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
}

inline void run_editor_case(const editor_pair& editors, const uint8_t* data, std::size_t size) {
  static const std::string file_path = work_path("edited");
  static const std::string temp_path = rewrite_temp_path(file_path);
  std::string original(reinterpret_cast<const char*>(data), size);
  write_file(file_path, original);

  editors.install(file_path.c_str());
  std::string installed = read_file(file_path);

  // A second install of a file that carries the filter changes nothing.
  if (any_line(installed, editors.installed_line)) {
    editors.install(file_path.c_str());
    if (read_file(file_path) != installed) std::abort();
  }

  editors.remove(file_path.c_str());
  std::string removed = read_file(file_path);
  if (access(temp_path.c_str(), F_OK) == 0) std::abort();

  // An incomplete copy never touches the file.
  if (removed.size() > 16) {
    with_file_size_limit(removed.size() / 2, [&] {
      editors.install(file_path.c_str());
      editors.remove(file_path.c_str());
    });
    if (read_file(file_path) != removed) std::abort();
  }
}

}  // namespace fuzz

// The libFuzzer entry points of an editor target: logs silenced and the work
// directory made once, then run_editor_case on every input.
#define EDITOR_FUZZ_TARGET(install, remove, installed_line)                 \
  extern "C" int LLVMFuzzerInitialize(int*, char***) {                      \
    fuzz::silence_logs();                                                   \
    (void)fuzz::work_dir();                                                 \
    return 0;                                                               \
  }                                                                         \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { \
    fuzz::run_editor_case({install, remove, installed_line}, data, size);   \
    return 0;                                                               \
  }
