// Line-by-line rewrite of one of Sendmail's files through a fixed temporary
// file, which the caller then moves into place with a shell command.
//
// The temporary name is fixed (the move commands name it) and lives in a
// directory every user can write to, so it is never opened as found: any old
// entry is unlinked and the file is created afresh with O_CREAT | O_EXCL |
// O_NOFOLLOW, mode 0600. A link or file planted at the name is thus neither
// followed nor written; if another process wins the race to create it, the
// open fails.
//
// finish() reports whether the temporary holds a complete copy: every read
// reached the end of the source without error, and every write, flush, sync
// and close of the temporary succeeded. Only then may it replace the source;
// a truncated copy (a full disk, a read error) must never do so. finish()
// also gives the temporary the owner, group and mode of the source, so the
// replaced file keeps them.
//
// Used by the sendmail.cf and macro-file editors on the main thread only
// (start-up and shutdown). Writes no log lines; the callers log.
#pragma once

#include <cstdio>
#include <string>

class file_rewrite {
 public:
  // Opens source_path for reading and creates temp_path for writing. Check
  // source_open() and temp_open(); either may fail on its own.
  file_rewrite(const char* source_path, const char* temp_path);
  ~file_rewrite();
  file_rewrite(const file_rewrite&) = delete;
  file_rewrite& operator=(const file_rewrite&) = delete;

  bool source_open() const { return source_ != nullptr; }
  bool temp_open() const { return temp_ != nullptr; }

  // The next line of the source without its line feed, with trailing
  // trim_chars removed. False at the end of the file or on a read error
  // (remembered, so finish() fails).
  bool read_line(std::string& line);

  // Reads the source again from its first line.
  void rewind();

  // Writes the line and a line feed to the temporary and flushes it at once.
  // A failure is remembered, so finish() fails.
  void write_line(const std::string& line);

  // Closes both files. True only when the temporary is a complete copy with
  // the source's owner and mode, ready to be moved into place.
  [[nodiscard]] bool finish();

  // Removes the temporary (after a failed finish, so no partial copy stays).
  void discard_temp();

 private:
  std::string temp_path_;
  FILE* source_ = nullptr;
  FILE* temp_ = nullptr;
  char* buffer_ = nullptr;  // getline buffer
  std::size_t buffer_size_ = 0;
  bool read_failed_ = false;
  bool write_failed_ = false;
};
