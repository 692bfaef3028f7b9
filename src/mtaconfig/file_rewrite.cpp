#include "mtaconfig/file_rewrite.hpp"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "common/trim.hpp"

namespace {

// Creates the temporary afresh: whatever was at the name (a file, a symbolic
// link another user planted) is unlinked first and never opened.
FILE* create_fresh(const char* path) {
  if (unlink(path) != 0 && errno != ENOENT) return nullptr;
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  FILE* stream = fdopen(fd, "w");
  if (stream == nullptr) close(fd);
  return stream;
}

}  // namespace

file_rewrite::file_rewrite(const char* source_path, const char* temp_path)
    : temp_path_(temp_path) {
  source_ = std::fopen(source_path, "re");
  temp_ = create_fresh(temp_path);
}

file_rewrite::~file_rewrite() {
  if (source_ != nullptr) std::fclose(source_);
  if (temp_ != nullptr) std::fclose(temp_);
  std::free(buffer_);
}

bool file_rewrite::read_line(std::string& line) {
  if (source_ == nullptr) return false;
  ssize_t length = getline(&buffer_, &buffer_size_, source_);
  if (length < 0) {
    if (std::ferror(source_)) read_failed_ = true;
    return false;
  }
  line.assign(buffer_, static_cast<std::size_t>(length));
  trim_right(line, trim_chars);
  return true;
}

void file_rewrite::rewind() {
  if (source_ == nullptr) return;
  std::clearerr(source_);
  if (std::fseek(source_, 0, SEEK_SET) != 0) read_failed_ = true;
}

void file_rewrite::write_line(const std::string& line) {
  if (temp_ == nullptr || write_failed_) return;
  if (std::fwrite(line.data(), 1, line.size(), temp_) != line.size() ||
      std::fputc('\n', temp_) == EOF || std::fflush(temp_) != 0) {
    write_failed_ = true;
  }
}

bool file_rewrite::finish() {
  bool complete = source_ != nullptr && temp_ != nullptr && !read_failed_ && !write_failed_;
  if (temp_ != nullptr) {
    int fd = fileno(temp_);
    struct stat original;
    if (source_ == nullptr || fstat(fileno(source_), &original) != 0 ||
        fchown(fd, original.st_uid, original.st_gid) != 0 ||
        fchmod(fd, original.st_mode & 07777) != 0) {
      complete = false;
    }
    if (std::fflush(temp_) != 0 || fsync(fd) != 0) complete = false;
    if (std::fclose(temp_) != 0) complete = false;
    temp_ = nullptr;
  }
  if (source_ != nullptr) {
    std::fclose(source_);
    source_ = nullptr;
  }
  return complete;
}

void file_rewrite::discard_temp() { unlink(temp_path_.c_str()); }
