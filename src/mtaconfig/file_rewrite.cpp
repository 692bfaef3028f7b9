#include "mtaconfig/file_rewrite.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "common/trim.hpp"

namespace {

// The file a rewrite replaces: a symbolic link is followed to the file it
// names (the link itself stays), anything else is taken as given.
std::string resolved(const char* path) {
  char buffer[PATH_MAX];
  if (realpath(path, buffer) == nullptr) return path;
  return buffer;
}

std::string directory_of(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Creates the temporary afresh: whatever was at the name (one left by a
// killed run, a planted link) is unlinked first and never opened.
FILE* create_fresh(const std::string& path) {
  if (unlink(path.c_str()) != 0 && errno != ENOENT) return nullptr;
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  FILE* stream = fdopen(fd, "w");
  if (stream == nullptr) close(fd);
  return stream;
}

// Makes a rename in `directory` durable. A failure here changes nothing
// about which version is in place, so it is not reported.
void sync_directory(const std::string& directory) {
  int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

std::string rewrite_temp_path(const std::string& target) {
  std::string::size_type slash = target.rfind('/');
  std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string prefix = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  return prefix + "." + name + ".teslo-new";
}

file_rewrite::file_rewrite(const char* target_path)
    : target_path_(resolved(target_path)), temp_path_(rewrite_temp_path(target_path_)) {
  source_ = std::fopen(target_path_.c_str(), "re");
  temp_ = create_fresh(temp_path_);
  temp_exists_ = temp_ != nullptr;
}

file_rewrite::~file_rewrite() {
  if (source_ != nullptr) (void)std::fclose(source_);
  if (temp_ != nullptr) (void)std::fclose(temp_);
  if (temp_exists_) unlink(temp_path_.c_str());
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

// Closes both files; true when the temporary is a complete, synced copy
// with the source's owner, group and mode.
bool file_rewrite::finish_temp() {
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
    (void)std::fclose(source_);
    source_ = nullptr;
  }
  return complete;
}

bool file_rewrite::replace() {
  if (!finish_temp()) return false;  // the destructor removes the temporary
  if (rename(temp_path_.c_str(), target_path_.c_str()) != 0) return false;
  temp_exists_ = false;
  sync_directory(directory_of(target_path_));
  return true;
}
