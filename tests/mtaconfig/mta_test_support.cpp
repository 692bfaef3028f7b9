#include "mtaconfig/mta_test_support.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace mta_test {

scratch_dir::scratch_dir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : ".") + "/mtaconfig.XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed for " << pattern;
  root_ = std::filesystem::absolute(buffer.data()).string();
}

scratch_dir::~scratch_dir() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

void write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::string lines(const std::vector<std::string>& text) {
  std::string joined;
  for (const std::string& line : text) joined += line + "\n";
  return joined;
}

int recording_runner::run(const char* command) {
  commands.emplace_back(command);
  std::string text(command);
  std::string first_word = text.substr(0, text.find(' '));
  auto scripted = results.find(first_word);
  if (scripted != results.end()) return scripted->second;
  if (first_word == "mv" || first_word == "/bin/mv") return std::system(command);
  return 0;
}

}  // namespace mta_test
