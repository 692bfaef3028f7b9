#include "mtaconfig/mta_test_support.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace mta_test {

scratch_dir::scratch_dir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : ".") + "/mtaconfig.XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed for " << pattern;
  root_ = std::filesystem::canonical(buffer.data()).string();
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
  return 0;
}

fake_host::fake_host() { std::filesystem::create_directory(proc); }

sendmail_host fake_host::host() const {
  return {cf.c_str(), default_pid_file.c_str(), proc.c_str(), systemd_marker.c_str()};
}

void fake_host::add_process(pid_t pid, const std::string& name) {
  std::string entry = proc + "/" + std::to_string(pid);
  std::filesystem::create_directory(entry);
  write_file(entry + "/comm", name + "\n");
}

void fake_host::under_systemd() { std::filesystem::create_directory(systemd_marker); }

stand_in_process::stand_in_process() {
  pid_ = fork();
  if (pid_ == 0) {
    execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
    _exit(127);
  }
}

stand_in_process::~stand_in_process() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

int stand_in_process::wait_for_signal() {
  for (int tries = 0; tries < 500; ++tries) {
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    usleep(10000);
  }
  return 0;
}

}  // namespace mta_test
