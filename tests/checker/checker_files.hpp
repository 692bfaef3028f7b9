// Test helpers for the configuration checker: the report of a check as
// lines with the file's path taken off, and the source tree's examples.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "checker/check_status.hpp"

namespace checker_test {

struct checked {
  check_status status;
  std::vector<std::string> lines;  // report lines, "path" replaced by "F"
};

// Splits `report` into lines and writes every occurrence of `path` as "F".
inline std::vector<std::string> report_lines(const std::string& report, const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(report);
  for (std::string line; std::getline(in, line);) {
    for (std::size_t at = line.find(path); at != std::string::npos; at = line.find(path, at)) {
      line.replace(at, path.size(), 1, 'F');  // the fill form: GCC 12 -O3 misreads the other
    }
    lines.push_back(line);
  }
  return lines;
}

// Succeeds when every line of `want` is among `lines`.
inline ::testing::AssertionResult has_lines(const std::vector<std::string>& lines,
                                            const std::vector<std::string>& want) {
  for (const std::string& line : want) {
    if (std::find(lines.begin(), lines.end(), line) == lines.end()) {
      auto failure = ::testing::AssertionFailure() << "missing line: " << line << "\ngot:";
      for (const std::string& got : lines) failure << "\n  " << got;
      return failure;
    }
  }
  return ::testing::AssertionSuccess();
}

// Succeeds when `text` holds `part`.
inline ::testing::AssertionResult has_text(const std::string& text, const std::string& part) {
  if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "no \"" << part << "\" in:\n" << text;
}

// The top of the source tree (this file lives in tests/checker/).
inline std::string source_root() {
  std::string here = __FILE__;
  for (int up = 0; up < 3; ++up) here = here.substr(0, here.rfind('/'));
  return here;
}

}  // namespace checker_test
