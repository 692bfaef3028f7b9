// Where the daemon's programs are (see program_path.hpp).
#include "sandbox/program_path.hpp"

#include <climits>
#include <unistd.h>

#include "common/paths.hpp"

std::string find_program_directory(const char* probe_name) {
  char own[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", own, sizeof own - 1);
  if (length > 0) {
    std::string directory(own, static_cast<std::size_t>(length));
    std::size_t slash = directory.rfind('/');
    if (slash != std::string::npos) {
      directory.resize(slash == 0 ? 1 : slash);
      if (access(program_path(directory, probe_name).c_str(), X_OK) == 0) return directory;
    }
  }
  return paths::program_directory;
}

std::string program_path(const std::string& directory, const char* name) {
  std::string path = directory;
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  return path;
}
