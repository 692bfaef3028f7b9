// Figures of a load run: latency percentiles and the filter process's CPU
// time and peak resident set, read from /proc.
//
// Called by the driver's main thread only, after the connection threads
// have ended (latencies) and around the run (process figures).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The value below which `fraction` (0..1) of the sorted samples lie, by the
// nearest-rank rule; 0 for no samples. `sorted` must be in ascending order.
double percentile(const std::vector<double>& sorted, double fraction);

struct process_figures {
  double cpu_seconds = 0;         // user + system time of all its threads
  std::uint64_t peak_rss_kb = 0;  // VmHWM
  std::uint64_t rss_kb = 0;       // VmRSS
};

// Reads /proc/<pid>/stat and /proc/<pid>/status; nothing when the process
// is gone or the files cannot be parsed.
std::optional<process_figures> read_process_figures(int pid);
// Parses the text of /proc/<pid>/stat (CPU seconds from fields 14 and 15).
std::optional<double> cpu_seconds_from_stat(const std::string& stat_text, long ticks_per_second);
// Parses one "Name:   1234 kB" line value out of /proc/<pid>/status text.
std::optional<std::uint64_t> status_kb(const std::string& status_text, const std::string& name);
// Resets the process's peak resident set to its current size (writes 5 to
// /proc/<pid>/clear_refs; needs the right to do so). False when not possible.
bool reset_peak_rss(int pid);
// Reads a pid file (first line, decimal); 0 when unreadable.
int pid_from_file(const std::string& path);
