// Reads what the code under test wrote to the log sink.
#pragma once

#include <string>
#include <vector>

namespace fake_milter {

struct logged_line {
  int priority;
  std::string text;
  bool operator==(const logged_line&) const = default;
};

// Installs a capturing writer for its lifetime; lines from any thread.
class log_capture {
 public:
  log_capture();
  ~log_capture();
  log_capture(const log_capture&) = delete;
  log_capture& operator=(const log_capture&) = delete;

  std::vector<logged_line> lines() const;
  std::vector<std::string> texts() const;
  bool contains(int priority, const std::string& text) const;
  void clear();
};

}  // namespace fake_milter
