// Latency percentiles and /proc figures of the filter (see load_stats.hpp).
#include "load_stats.hpp"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

std::optional<std::string> slurp(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

double percentile(const std::vector<double>& sorted, double fraction) {
  if (sorted.empty()) return 0;
  if (fraction <= 0) return sorted.front();
  auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
  if (rank == 0) rank = 1;
  if (rank > sorted.size()) rank = sorted.size();
  return sorted[rank - 1];
}

std::optional<double> cpu_seconds_from_stat(const std::string& stat_text, long ticks_per_second) {
  // The command name (field 2) is in parentheses and may hold spaces; the
  // fields after the last ")" start with field 3.
  auto close = stat_text.rfind(')');
  if (close == std::string::npos || ticks_per_second <= 0) return std::nullopt;
  std::istringstream fields(stat_text.substr(close + 1));
  std::string field;
  unsigned long long utime = 0;
  unsigned long long stime = 0;
  for (int number = 3; number <= 15; ++number) {
    if (!(fields >> field)) return std::nullopt;
    if (number == 14) utime = std::strtoull(field.c_str(), nullptr, 10);
    if (number == 15) stime = std::strtoull(field.c_str(), nullptr, 10);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(ticks_per_second);
}

std::optional<std::uint64_t> status_kb(const std::string& status_text, const std::string& name) {
  std::istringstream lines(status_text);
  std::string line;
  const std::string key = name + ":";
  while (std::getline(lines, line)) {
    if (line.compare(0, key.size(), key) != 0) continue;
    std::istringstream value(line.substr(key.size()));
    std::uint64_t kb = 0;
    if (value >> kb) return kb;
    return std::nullopt;
  }
  return std::nullopt;
}

std::optional<process_figures> read_process_figures(int pid) {
  if (pid <= 0) return std::nullopt;
  const std::string base = "/proc/" + std::to_string(pid);
  auto stat_text = slurp(base + "/stat");
  auto status_text = slurp(base + "/status");
  if (!stat_text || !status_text) return std::nullopt;
  auto cpu = cpu_seconds_from_stat(*stat_text, sysconf(_SC_CLK_TCK));
  auto peak = status_kb(*status_text, "VmHWM");
  auto rss = status_kb(*status_text, "VmRSS");
  if (!cpu || !peak || !rss) return std::nullopt;
  return process_figures{*cpu, *peak, *rss};
}

bool reset_peak_rss(int pid) {
  std::ofstream out("/proc/" + std::to_string(pid) + "/clear_refs");
  if (!out) return false;
  out << "5\n";
  out.flush();
  return static_cast<bool>(out);
}

int pid_from_file(const std::string& path) {
  std::ifstream in(path);
  long pid = 0;
  if (!(in >> pid) || pid <= 0 || pid > 0x7fffffff) return 0;
  return static_cast<int>(pid);
}
