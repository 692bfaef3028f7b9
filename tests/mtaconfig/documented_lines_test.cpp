// The lines that README.md and teslo(8) quote from sendmail.cf and brin.mc
// are the lines the daemon writes, byte for byte (trailing blank included).
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "mtaconfig/macro_file.hpp"
#include "mtaconfig/sendmail_cf.hpp"

namespace {

std::string source_root() {
  std::string here = __FILE__;
  for (int up = 0; up < 3; ++up) here = here.substr(0, here.rfind('/'));
  return here;
}

// Every line of the file that begins, after its indentation, with the
// filter's definition or macro line; man page escapes undone.
std::vector<std::string> quoted_lines(const std::string& path) {
  std::vector<std::string> found;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    line.erase(0, line.find_first_not_of(' '));
    for (std::size_t at; (at = line.find("\\-")) != std::string::npos;) line.erase(at, 1);
    if (line.starts_with("XTESLO,") || line.starts_with("INPUT_MAIL_FILTER(")) {
      found.push_back(line);
    }
  }
  return found;
}

}  // namespace

TEST(documentation, quotes_the_lines_the_daemon_writes) {
  for (const char* document : {"README.md", "man/teslo.8"}) {
    SCOPED_TRACE(document);
    std::vector<std::string> lines = quoted_lines(source_root() + "/" + document);
    bool definition = false, macro = false;
    for (const std::string& line : lines) {
      definition |= line == filter_definition_line;
      macro |= line == filter_macro_line;
      EXPECT_TRUE(line == filter_definition_line || line == filter_macro_line)
          << "quoted line differs from the daemon's: \"" << line << "\"";
    }
    EXPECT_TRUE(definition && macro) << "both lines are quoted";
  }
}
