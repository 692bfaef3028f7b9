#include "fuzz_support.hpp"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include "support/log_writer.hpp"

namespace fuzz {

namespace {

std::string make_work_dir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && base[0] != '\0' ? base : ".") + "/teslo-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  return pattern;
}

// Removes the files of the work directory and the directory (one level:
// the targets create no subdirectories).
void remove_work_dir() {
  const std::string& dir = work_dir();
  if (DIR* listing = opendir(dir.c_str()); listing != nullptr) {
    while (dirent* entry = readdir(listing)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") unlink((dir + "/" + name).c_str());
    }
    closedir(listing);
  }
  rmdir(dir.c_str());
}

void discard_line(int, const char*) {}

}  // namespace

const std::string& work_dir() {
  // Never destroyed: the exit handler that removes the directory reads it.
  static const std::string* const dir = [] {
    auto* made = new std::string(make_work_dir());
    std::atexit(remove_work_dir);
    return made;
  }();
  return *dir;
}

std::string work_path(const char* name) { return work_dir() + "/" + name; }

void write_file(const std::string& path, std::string_view data) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  bool written = fd >= 0;
  std::size_t done = 0;
  while (written && done < data.size()) {
    ssize_t count = write(fd, data.data() + done, data.size() - done);
    if (count <= 0)
      written = false;
    else
      done += static_cast<std::size_t>(count);
  }
  if (fd >= 0 && close(fd) != 0) written = false;
  if (!written) {
    std::perror(path.c_str());
    std::abort();
  }
}

std::string read_file(const std::string& path) {
  std::string content;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return content;
  char buffer[8192];
  for (ssize_t count; (count = read(fd, buffer, sizeof buffer)) > 0;) {
    content.append(buffer, static_cast<std::size_t>(count));
  }
  close(fd);
  return content;
}

void silence_logs() { set_log_writer(discard_line); }

}  // namespace fuzz
