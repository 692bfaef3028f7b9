#include "metrics/metrics_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "common/error_text.hpp"

namespace {

// "<dir>/.<name>.XXXXXX" beside `path`, as a writable buffer for mkstemp.
std::vector<char> temporary_template(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string pattern = directory + "." + name + ".XXXXXX";
  return std::vector<char>(pattern.c_str(), pattern.c_str() + pattern.size() + 1);
}

bool write_all(int fd, const std::string& text) {
  const char* next = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    ssize_t written = write(fd, next, left);
    if (written < 0 && errno == EINTR) continue;
    if (written == 0) errno = EIO;
    if (written <= 0) return false;
    next += written;
    left -= static_cast<std::size_t>(written);
  }
  return true;
}

bool failed(std::string& reason, const char* step, int error) {
  reason = std::string(step) + ": " + error_text(error);
  return false;
}

}  // namespace

bool replace_metrics_file(const std::string& path, const std::string& text, std::string& reason) {
  std::vector<char> temporary = temporary_template(path);
  int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return failed(reason, "mkstemp", errno);
  const char* step = nullptr;
  if (!write_all(fd, text)) {
    step = "write";
  } else if (fsync(fd) != 0) {
    step = "fsync";
  } else if (fchmod(fd, 0644) != 0) {
    step = "fchmod";
  }
  int error = errno;
  if (close(fd) != 0 && step == nullptr) {
    step = "close";
    error = errno;
  }
  if (step == nullptr && std::rename(temporary.data(), path.c_str()) != 0) {
    step = "rename";
    error = errno;
  }
  if (step == nullptr) return true;
  (void)unlink(temporary.data());
  return failed(reason, step, error);
}
