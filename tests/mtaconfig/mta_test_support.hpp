// Scratch directories, file helpers and a recording command runner for the
// Sendmail configuration editor tests.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <sys/types.h>

#include "mtaconfig/command_runner.hpp"
#include "mtaconfig/sendmail_daemon.hpp"

namespace mta_test {

// A fresh directory under $TMPDIR (or the working directory), removed with
// everything in it at the end of the test.
class scratch_dir {
 public:
  scratch_dir();
  ~scratch_dir();
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;
  std::string path(const std::string& name) const { return root_ + "/" + name; }

 private:
  std::string root_;
};

void write_file(const std::string& path, const std::string& content);
std::string read_file(const std::string& path);
bool exists(const std::string& path);
// Joins lines, each ending in "\n".
std::string lines(const std::vector<std::string>& text);

// Records every command and returns its scripted result, 0 when none is
// scripted. Scripts match on the command's first word.
class recording_runner : public command_runner {
 public:
  int run(const char* command) override;
  std::vector<std::string> commands;
  std::map<std::string, int> results;  // first word -> result
};

// A host for the Sendmail search in a scratch directory: its own
// sendmail.cf, default pid file, process table (<proc>/<pid>/comm) and
// systemd marker (absent until under_systemd()).
class fake_host {
 public:
  fake_host();
  sendmail_host host() const;
  // Lists `pid` in the process table under `name`.
  void add_process(pid_t pid, const std::string& name);
  void under_systemd();
  scratch_dir dir;
  std::string cf = dir.path("sendmail.cf");
  std::string default_pid_file = dir.path("sendmail.pid");
  std::string proc = dir.path("proc");
  std::string systemd_marker = dir.path("systemd");
};

// A real process (sleep) that stands in for the Sendmail daemon, killed
// and reaped at the end unless wait_for_signal() reaped it.
class stand_in_process {
 public:
  stand_in_process();
  ~stand_in_process();
  stand_in_process(const stand_in_process&) = delete;
  stand_in_process& operator=(const stand_in_process&) = delete;
  pid_t pid() const { return pid_; }
  // Reaps the process and returns the signal that ended it (0 if none
  // ended it within a few seconds).
  int wait_for_signal();

 private:
  pid_t pid_ = -1;
};

}  // namespace mta_test
