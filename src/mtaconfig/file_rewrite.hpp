// Line-by-line rewrite of one of Sendmail's files, replaced atomically.
//
// The new version is written to a temporary in the target's own directory
// (rewrite_temp_path: "<dir>/.<name>.teslo-new"), so the replacement is one
// rename(2) on one filesystem: Sendmail, or anyone reading the file, sees
// either the old version or the complete new one, never a copy in progress.
// This holds on a full filesystem, with a private /tmp, and if the daemon is
// killed at any moment (a temporary left by a kill is removed by the next
// rewrite, which unlinks the name before creating it afresh).
//
// The temporary is created with O_CREAT | O_EXCL | O_NOFOLLOW, mode 0600: a
// link planted at the name is neither followed nor written. replace() gives
// it the owner, group and mode of the original, fsyncs it, renames it over
// the target and fsyncs the directory. A target that is a symbolic link is
// resolved first, so the file it names is replaced and the link stays.
//
// replace() succeeds only for a complete copy: every read reached the end of
// the source without error and every write, flush, sync and close of the
// temporary succeeded. Otherwise the original stays byte-identical and the
// temporary is removed. A rewrite that is never replaced (the file already
// holds what it should) also removes its temporary when it goes away.
//
// Used by the sendmail.cf and macro-file editors on the main thread only
// (start-up and shutdown). Writes no log lines; the callers log.
#pragma once

#include <cstdio>
#include <string>

// The temporary that a rewrite of `target` writes.
std::string rewrite_temp_path(const std::string& target);

class file_rewrite {
 public:
  // Opens target_path for reading and creates its temporary for writing.
  // Check source_open() and temp_open(); either may fail on its own.
  explicit file_rewrite(const char* target_path);
  ~file_rewrite();
  file_rewrite(const file_rewrite&) = delete;
  file_rewrite& operator=(const file_rewrite&) = delete;

  bool source_open() const { return source_ != nullptr; }
  bool temp_open() const { return temp_ != nullptr; }
  const std::string& temp_path() const { return temp_path_; }

  // The next line of the source without its line feed, with trailing
  // trim_chars removed. False at the end of the file or on a read error
  // (remembered, so replace() fails).
  bool read_line(std::string& line);

  // Reads the source again from its first line.
  void rewind();

  // Writes the line and a line feed to the temporary and flushes it at once.
  // A failure is remembered, so replace() fails.
  void write_line(const std::string& line);

  // Puts the new version in place of the target. False, with the target
  // untouched and the temporary removed, unless the copy was complete.
  [[nodiscard]] bool replace();

 private:
  bool finish_temp();

  std::string target_path_;
  std::string temp_path_;
  FILE* source_ = nullptr;
  FILE* temp_ = nullptr;
  char* buffer_ = nullptr;  // getline buffer
  std::size_t buffer_size_ = 0;
  bool read_failed_ = false;
  bool write_failed_ = false;
  bool temp_exists_ = false;
};
