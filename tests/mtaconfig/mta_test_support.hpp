// Scratch directories, file helpers and a recording command runner for the
// Sendmail configuration editor tests.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "mtaconfig/command_runner.hpp"

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

// Records every command. Commands starting with "mv " or "/bin/mv " really
// run (they move files inside the scratch directory) unless a result is
// scripted for them; other commands return their scripted result, 0 when
// none is scripted. Scripts match on the command's first word.
class recording_runner : public command_runner {
 public:
  int run(const char* command) override;
  std::vector<std::string> commands;
  std::map<std::string, int> results;  // first word -> result
};

}  // namespace mta_test
