#include "mtaconfig/sendmail_daemon.hpp"

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

#include "common/paths.hpp"
#include "common/text.hpp"
#include "common/trim.hpp"

namespace {

// A time stamp in seconds, fractions included.
double seconds_of(const timespec& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

constexpr const char* pid_file_option = "O PidFile=";

// The pid file that sendmail.cf names, or "" when it names none. A value
// built from macros ($...) is not expanded here and so not used.
std::string configured_pid_file(const char* cf_path) {
  std::ifstream cf(cf_path);
  std::string line;
  while (std::getline(cf, line)) {
    trim(line, trim_chars);
    if (!line.starts_with(pid_file_option)) continue;
    std::string value = line.substr(std::char_traits<char>::length(pid_file_option));
    trim(value, trim_chars);
    return value.find('$') == std::string::npos ? value : std::string();
  }
  return {};
}

pid_t parse_pid(const std::string& text) {
  if (text.empty() || text.size() > 9) return 0;
  for (char c : text) {
    if (!is_ascii_digit(c)) return 0;
  }
  return static_cast<pid_t>(std::strtol(text.c_str(), nullptr, 10));
}

// The first line of a pid file as a pid, 0 when it holds none.
pid_t read_pid_file(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  if (!std::getline(file, line)) return 0;
  trim(line, trim_chars);
  return parse_pid(line);
}

bool is_sendmail(const sendmail_host& host, pid_t pid) {
  std::ifstream comm(std::string(host.proc_dir) + "/" + std::to_string(pid) + "/comm");
  std::string name;
  if (!std::getline(comm, name)) return false;
  return name == "sendmail" || name == "sendmail-mta";
}

// What "pidof sendmail sendmail-mta" would find first.
pid_t scan_processes(const sendmail_host& host) {
  DIR* processes = opendir(host.proc_dir);
  if (processes == nullptr) return 0;
  pid_t found = 0;
  // NOLINTNEXTLINE(concurrency-mt-unsafe): the directory stream is this call's own
  while (dirent* entry = readdir(processes)) {
    pid_t pid = parse_pid(entry->d_name);
    if (pid > 0 && is_sendmail(host, pid) && (found == 0 || pid < found)) found = pid;
  }
  closedir(processes);
  return found;
}

// When `pid` started, in seconds of the real-time clock; false if unknown.
// The process table gives the start in clock ticks since boot, and the boot
// is placed on the real-time clock through CLOCK_BOOTTIME, to a tick.
bool process_start(const sendmail_host& host, pid_t pid, double& start) {
  std::ifstream stat_file(std::string(host.proc_dir) + "/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat_file, line)) return false;
  // The name in parentheses may hold blanks; the fields after it do not.
  std::size_t name_end = line.rfind(')');
  if (name_end == std::string::npos) return false;
  std::istringstream fields(line.substr(name_end + 1));
  std::string field;
  for (int i = 3; i <= 22 && fields >> field; ++i) {
    if (i < 22) continue;
    char* end = nullptr;
    unsigned long long ticks = std::strtoull(field.c_str(), &end, 10);
    long per_second = sysconf(_SC_CLK_TCK);
    timespec now{}, since_boot{};
    if (*end != '\0' || per_second <= 0 || clock_gettime(CLOCK_REALTIME, &now) != 0 ||
        clock_gettime(CLOCK_BOOTTIME, &since_boot) != 0) {
      return false;
    }
    double boot = seconds_of(now) - seconds_of(since_boot);
    start = boot + static_cast<double>(ticks) / static_cast<double>(per_second);
    return true;
  }
  return false;
}

}  // namespace

bool started_after_config(const sendmail_host& host, pid_t pid) {
  struct stat config;
  double start = 0;
  if (stat(host.sendmail_cf, &config) != 0 || !process_start(host, pid, start)) return false;
  return start >= seconds_of(config.st_mtim);
}

sendmail_host default_sendmail_host() {
  return {paths::sendmail_cf, paths::sendmail_default_pid_file, paths::proc_dir,
          paths::systemd_marker};
}

pid_t find_sendmail_daemon(const sendmail_host& host) {
  for (const std::string& pid_file :
       {configured_pid_file(host.sendmail_cf), std::string(host.default_pid_file)}) {
    if (pid_file.empty()) continue;
    pid_t pid = read_pid_file(pid_file);
    if (pid > 0 && is_sendmail(host, pid)) return pid;
  }
  return scan_processes(host);
}

bool runs_under_systemd(const sendmail_host& host) {
  struct stat status;
  return stat(host.systemd_marker, &status) == 0 && S_ISDIR(status.st_mode);
}
